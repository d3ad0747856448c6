#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What can go wrong with one simulated module.
struct ModuleFaults {
    bool neverSynchronizes = false;     // "?" draws no answer at all
    bool answersLowerCase = false;      // "synchronized" instead of "Synchronized"
    int loseDataPacket = 0;             // >0: the n-th data packet after selection is lost
    int flipFlashBitAt = -1;            // >=0: bit 0 of this flash byte flips when it is written
    int replyDelayMs = 0;               // every answer leaves this late
    int answerAgainAfterMs = 0;         // >0: every answer goes a second time this much later
};

// The boot loader of one simulated I/O module: the "?" handshake, then command lines ended by
// CR LF, each answered by a three-character return-code line and the command's data. Data for
// a "W" command follow as raw bytes in the next packet and draw no answer.
class SimulatedBootLoader
{
public:
    static constexpr uint32_t kRamBase = 0x02000000;
    static constexpr uint32_t kRamBytes = 0x8000;
    static constexpr int kSectorBytes = 16 * 1024;
    static constexpr int kStandardSectors = 16;
    static constexpr int kLargeFlashSectors = 64;
    static constexpr int kUnlockCode = 41975;
    static constexpr const char *kLargeFlashIdentification = "5449";
    static constexpr const char *kStandardIdentification = "4369";
    static constexpr std::array<uint8_t, 24> kStartStub = {
        0x04, 0x4C, 0x26, 0x68, 0x65, 0x68, 0x30, 0x46, 0x80, 0xF3, 0x08, 0x88,
        0x00, 0xBF, 0xBF, 0xF3, 0x6F, 0x8F, 0xA8, 0x47, 0x00, 0x00, 0x00, 0x00};

    // Single-digit return codes, so that every return-code line is three characters long.
    enum ReturnCode : char {
        Success = '0',
        InvalidCommand = '1',
        AddressError = '2',
        CountError = '3',
        InvalidSector = '4',
        SectorNotPrepared = '5',
        Locked = '6',
        InvalidCode = '7',
        ParameterError = '8',
    };

    explicit SimulatedBootLoader(bool largeFlash);

    // The module has been selected by the coupler: its boot loader restarts and waits for "?".
    void enterBootLoader();
    // Bytes from one pass-through packet; the answer, or nothing when the module stays silent.
    std::optional<std::string> receive(const uint8_t *bytes, size_t n);

    bool largeFlash() const { return m_largeFlash; }
    const std::vector<uint8_t> &flash() const { return m_flash; }
    void setFlash(const std::vector<uint8_t> &content);
    int startCount() const { return m_startCount; }
    bool runningFirmware() const { return m_state == State::RunningFirmware; }
    const std::vector<std::string> &commands() const { return m_commands; }
    ModuleFaults faults;

private:
    enum class State { AwaitQuestionMark, AwaitSynchronizedEcho, AwaitClock, Commands, RunningFirmware };

    std::string command(const std::string &line);
    std::string writeToRam(const std::vector<long long> &args);
    std::string prepare(const std::vector<long long> &args);
    std::string erase(const std::vector<long long> &args);
    std::string copyToFlash(const std::vector<long long> &args);
    std::string readFlash(const std::vector<long long> &args);
    std::string go(const std::vector<long long> &args);
    bool sectorRangeValid(long long firstSector, long long lastSector) const;
    bool ramRangeValid(long long address, long long count) const;
    int sectorCount() const;

    bool m_largeFlash;
    State m_state = State::AwaitQuestionMark;
    std::vector<uint8_t> m_flash;
    std::vector<uint8_t> m_ram;
    std::string m_line;
    long long m_pendingAddress = 0;
    long long m_pendingBytes = 0;
    int m_dataPackets = 0;
    bool m_unlocked = false;
    long long m_preparedFirst = -1;
    long long m_preparedLast = -1;
    int m_startCount = 0;
    std::vector<std::string> m_commands;
};
