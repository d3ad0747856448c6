#pragma once

#include <cstdint>
#include <string>

// The firmware file as it goes to the coupler: at most 8 MiB, filled up with 0xFF to a whole
// number of 256-byte pages. One update at a time uses it.
constexpr int firmwareBufferSize = 8 * 1024 * 1024;
constexpr int firmwarePageSize = 256;
constexpr uint8_t firmwareFill = 0xFF;
extern uint8_t firmwareBuffer[firmwareBufferSize];
extern int firmwareSize;

constexpr uint32_t foePassword = 0x6B2F1D94;
constexpr uint16_t bootRequestIndex = 0x5000;
constexpr uint8_t bootRequestSubIndex = 3;
constexpr uint32_t bootRequestCode = 0x4E7A2C15;

// Reads the file into firmwareBuffer; 1 on success, 0 when it cannot be opened, is empty or is
// larger than the buffer.
int readFirmwareFile(const char *path, int &size);

// Opens the adapter, brings the slave at `slave` into BOOT, writes the file by FoE, asks for
// PRE-OP and closes the adapter; progress goes to standard output. Returns the FoE result:
// greater than 0 is success. On failure `why`, when given, says what a technician can act on.
int updateSlaveFirmware(const char *interfaceName, uint8_t slave, const char *fileName,
                        std::string *why = nullptr);

// The cause of a failed FoE write, from its result and the error code of an FoE error reply.
std::string foeFailureText(int result, uint32_t errorCode);
