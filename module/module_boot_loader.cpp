#include "module/module_boot_loader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

std::string format(const char *pattern, long long a, long long b)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

}

ModuleBootLoader::ModuleBootLoader(ModuleTransport &transport, UpdateProgress &progress, CancelToken &cancel)
    : m_transport(transport), m_progress(progress), m_cancel(cancel)
{
}

int ModuleBootLoader::lastSector(ModuleVariant variant)
{
    return variant == ModuleVariant::LargeFlash ? 63 : 15;
}

std::string ModuleBootLoader::sectorCommand(char letter, ModuleVariant variant) const
{
    return std::string(1, letter) + " 0 " + std::to_string(lastSector(variant)) + "\r\n";
}

std::optional<ModuleVariant> ModuleBootLoader::synchronize()
{
    const size_t wordLength = std::strlen(kSynchronizedAnswer);
    bool synchronized = false;
    for (int attempt = 0; attempt < kHandshakeAttempts && !synchronized; ++attempt) {
        synchronized = m_transport.exchangeBootText("?")
                       && m_transport.answerLength() >= static_cast<int>(wordLength)
                       && std::memcmp(m_transport.answer(), kSynchronizedAnswer, wordLength) == 0;
    }
    if (!synchronized)
        return std::nullopt;
    m_transport.exchangeBootText(std::string(kSynchronizedAnswer) + "\r\n");
    m_transport.exchangeBootText("0\r\n");
    m_transport.exchangeBootText("A 0\r\n");
    const bool identified = m_transport.exchangeBootText("J\r\n");
    const int idOffset = kReturnCodeLineBytes;
    const int idLength = static_cast<int>(std::strlen(kLargeFlashIdentification));
    const bool large = identified && m_transport.answerLength() >= idOffset + idLength
                       && std::memcmp(m_transport.answer() + idOffset, kLargeFlashIdentification,
                                      static_cast<size_t>(idLength)) == 0;
    return large ? ModuleVariant::LargeFlash : ModuleVariant::Standard;
}

void ModuleBootLoader::erase(ModuleVariant variant)
{
    m_transport.exchangeBootText(kUnlockCommand);
    m_transport.exchangeBootText(sectorCommand('P', variant));
    m_transport.exchangeBootText(sectorCommand('E', variant));
}

void ModuleBootLoader::advanceProgress(int bytes)
{
    m_progress.setValue(m_progressCounter);
    m_progressCounter += bytes;
}

void ModuleBootLoader::writeFlashBlock(const std::vector<uint8_t> &image, int flashAddress,
                                       ModuleVariant variant)
{
    m_transport.exchangeBootText(kUnlockCommand);
    int staged = 0;
    for (int k = 0; k < kChunksPerBlock; ++k) {
        if (m_cancel.requested())
            break;
        const long long ramAddress = kRamStagingAddress + static_cast<long long>(kRamChunkBytes) * k;
        m_transport.exchangeBootText(format("W %lld %lld\r\n", ramAddress, kRamChunkBytes));
        m_transport.sendBootData(image.data() + flashAddress + kRamChunkBytes * k, kRamChunkBytes);
        advanceProgress(kRamChunkBytes);
        staged += kRamChunkBytes;
    }
    m_transport.exchangeBootText(sectorCommand('P', variant));
    m_transport.exchangeBootText(format("C %lld 33555200 %lld\r\n", flashAddress, staged));
}

bool ModuleBootLoader::readFlash(int imageLength, std::vector<uint8_t> &readBack)
{
    bool complete = true;
    for (int offset = 0; offset < imageLength && !m_cancel.requested();) {
        const int n = std::min(kReadChunkBytes, imageLength - offset);
        const bool replied = m_transport.exchangeBootText(format("R %lld %lld\r\n", offset, n));
        if (replied && m_transport.answerLength() >= kReturnCodeLineBytes + n) {
            std::memcpy(readBack.data() + offset, m_transport.answer() + kReturnCodeLineBytes,
                        static_cast<size_t>(n));
        } else {
            complete = false;
        }
        advanceProgress(n);
        offset += n;
    }
    return complete;
}

void ModuleBootLoader::startModuleFirmware()
{
    m_transport.exchangeBootText(format("W %lld %lld\r\n", kRamStagingAddress,
                                        static_cast<long long>(kStartStub.size())));
    std::vector<uint8_t> packet(kStartStub.begin(), kStartStub.end());
    packet.insert(packet.end(), kStartStubTrailer, kStartStubTrailer + std::strlen(kStartStubTrailer));
    m_transport.exchangeBootBytes(packet.data(), static_cast<int>(packet.size()));
    m_transport.pause(kStartPauseMs);
    m_transport.exchangeBootText(kUnlockCommand);
    m_transport.exchangeBootText("G " + std::to_string(kRamStagingAddress) + " T\r\n");
    m_transport.releaseModule();
}
