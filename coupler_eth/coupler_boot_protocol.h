#pragma once

// The datagrams of the Ethernet coupler's UDP boot loader and the checks its replies must pass.
// Every request is a 9-byte header ("Vq-CPL", command code, the PC's listen port) and, for the
// page and checksum commands, a page number or data after it; numbers are big-endian. Nothing
// here does any I/O.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class CouplerBootCommand : uint8_t {
    ConfirmBootMode = 0x00,
    ReadData = 0x01,
    WriteData = 0x02,
    RunUserMode = 0x04,
    WriteChecksumStep2 = 0x05,
    WriteChecksumStep1 = 0x06,
    EnterBootMode = 0xAA,
};

namespace CouplerBoot {

using Bytes = std::vector<uint8_t>;
using Checksum = std::array<uint8_t, 4>;   // opaque: the device computes it, the tool echoes it

constexpr char kSignature[] = "Vq-CPL";
constexpr int kSignatureBytes = 6;
constexpr int kCommandOffset = 6;
constexpr int kListenPortOffset = 7;
constexpr int kPageNumberOffset = 9;
constexpr int kPageDataOffset = 11;
constexpr int kChecksumReplyOffset = 7;     // the checksum sits where a request has its port
constexpr int kHeaderBytes = 9;
constexpr int kPageBytes = 256;
constexpr uint16_t kFirstPageNumber = 256;  // image bytes 0..255 are page 0x0100
constexpr uint16_t kDevicePort = 10275;
constexpr int kReceiveCapacity = 512;

constexpr int kConfirmReplyBytes = 8;
constexpr int kEchoReplyBytes = 11;         // WRITE DATA and both checksum steps
constexpr int kReadReplyBytes = 267;
constexpr int kBootModeFlagOffset = 7;

// The name a request goes by in the texts, e.g. "WRITE CHECKSUM Step 1".
const char *commandName(CouplerBootCommand command);
// The full length of a request of this command.
int requestLength(CouplerBootCommand command);

// ENTER BOOT MODE, CONFIRM BOOT MODE, WRITE CHECKSUM Step 1 and RUN USER MODE: the header alone.
Bytes encodeRequest(CouplerBootCommand command, uint16_t listenPort);
// READ DATA of one page.
Bytes encodeReadRequest(uint16_t listenPort, uint16_t pageNumber);
// WRITE DATA of one page: the 256 bytes at `pageData`.
Bytes encodeWriteRequest(uint16_t listenPort, uint16_t pageNumber, const uint8_t *pageData);
// WRITE CHECKSUM Step 2, carrying the bytes of the Step 1 reply unchanged.
Bytes encodeChecksumStep2(uint16_t listenPort, const Checksum &checksum);

// The boot-mode flag of a valid CONFIRM BOOT MODE reply; nothing when the reply is invalid.
std::optional<bool> parseConfirmReply(const uint8_t *reply, int length);
// A WRITE DATA or READ DATA reply for `pageNumber`: its length, signature, command and page echo.
bool isPageReply(CouplerBootCommand command, uint16_t pageNumber, const uint8_t *reply, int length);
// The checksum of a Step 1 reply (its length is all that is checked).
std::optional<Checksum> parseChecksumStep1Reply(const uint8_t *reply, int length);
// A Step 2 reply that echoes the checksum sent.
bool isChecksumStep2Reply(const Checksum &sent, const uint8_t *reply, int length);

// The exception texts: "[i]=" and the byte itself for every received byte.
std::string byteDump(const uint8_t *reply, int length);
// "WRITE DATA page:256, bytes_received:-1, data:" and the dump.
std::string pageFailureText(CouplerBootCommand command, uint16_t pageNumber, const uint8_t *reply,
                            int length);
// "WRITE CHECKSUM Step 2, bytes_received:11, data:" and the dump.
std::string checksumFailureText(CouplerBootCommand step, const uint8_t *reply, int length);
// The reply as hexadecimal bytes for a person ("no reply" when the length is negative).
std::string hexDump(const uint8_t *reply, int length);

// Pages of an image: its length in 256-byte pages rounded up, and that many bytes.
int pageCount(int imageLength);
int paddedLength(int imageLength);
uint16_t pageNumberAt(int imageOffset);

}
