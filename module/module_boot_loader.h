#pragma once

#include "core/update_tools.h"
#include "module/module_transport.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

enum class ModuleVariant { Standard, LargeFlash };

// The text protocol of a module's boot loader, spoken through the coupler's pass-through.
// Every answer from the "A 0" command on starts with a three-character return-code line, which
// is never tested: failures show up in the handshake or in the read-back.
class ModuleBootLoader
{
public:
    static constexpr int kHandshakeAttempts = 15;
    static constexpr uint32_t kRamStagingAddress = 33555200;   // 0x02000300
    static constexpr int kFlashBlockBytes = 1024;
    static constexpr int kRamChunkBytes = 128;
    static constexpr int kChunksPerBlock = kFlashBlockBytes / kRamChunkBytes;
    static constexpr int kReadChunkBytes = 192;
    static constexpr int kReturnCodeLineBytes = 3;
    static constexpr int kStartPauseMs = 500;
    static constexpr const char *kUnlockCommand = "U 41975\r\n";
    static constexpr const char *kSynchronizedAnswer = "Synchronized";
    static constexpr const char *kLargeFlashIdentification = "5449";
    // Thumb code run from RAM: main stack pointer from flash word 0, then call flash word 1.
    static constexpr std::array<uint8_t, 24> kStartStub = {
        0x04, 0x4C, 0x26, 0x68, 0x65, 0x68, 0x30, 0x46, 0x80, 0xF3, 0x08, 0x88,
        0x00, 0xBF, 0xBF, 0xF3, 0x6F, 0x8F, 0xA8, 0x47, 0x00, 0x00, 0x00, 0x00};
    static constexpr const char *kStartStubTrailer = "A 1\r\n";

    // Each chunk written or read is counted on `progress`; `cancel` is asked between chunks.
    ModuleBootLoader(ModuleTransport &transport, UpdateProgress &progress, CancelToken &cancel);

    static int lastSector(ModuleVariant variant);

    // The handshake and identification; the variant when the module synchronised.
    std::optional<ModuleVariant> synchronize();
    void erase(ModuleVariant variant);
    // Writes the 1024 image bytes from `flashAddress` on to flash at the same address.
    void writeFlashBlock(const std::vector<uint8_t> &image, int flashAddress, ModuleVariant variant);
    // Reads flash 0 .. imageLength-1 into readBack (stops early when cancelled). False when a
    // read drew no complete answer: such bytes were never verified.
    bool readFlash(int imageLength, std::vector<uint8_t> &readBack);
    void startModuleFirmware();

    void resetProgressCounter() { m_progressCounter = 0; }
    int progressCounter() const { return m_progressCounter; }

private:
    std::string sectorCommand(char letter, ModuleVariant variant) const;
    void advanceProgress(int bytes);

    ModuleTransport &m_transport;
    UpdateProgress &m_progress;
    CancelToken &m_cancel;
    int m_progressCounter = 0;
};
