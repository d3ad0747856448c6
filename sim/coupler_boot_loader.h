#pragma once

// The Ethernet coupler's UDP boot loader as the device runs it, without the socket: each request
// datagram in, at most one reply out. In user mode the running firmware answers only CONFIRM
// BOOT MODE (flag 0) and ENTER BOOT MODE; the boot loader writes and reads 256-byte pages of
// its 1 MiB flash (page numbers from 256), reports a CRC-32 of the pages written as the four
// checksum bytes, seals the image when Step 2 brings them back, and starts a sealed image on
// RUN USER MODE. Requests with a wrong signature, length or command are ignored, as are page
// numbers outside the flash. After ENTER BOOT MODE and RUN USER MODE the device restarts and
// answers nothing for a while. Thread-safe: served from the socket thread while a test inspects it.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

// The boot loader's command codes (byte 6 of a request), as the device firmware defines them.
enum class CouplerCommand : uint8_t {
    ConfirmBootMode = 0x00,
    ReadData = 0x01,
    WriteData = 0x02,
    RunUserMode = 0x04,
    WriteChecksumStep2 = 0x05,
    WriteChecksumStep1 = 0x06,
    EnterBootMode = 0xAA,
};

using Datagram = std::vector<uint8_t>;

// One way to misanswer the n-th request of a command (n counts from 1 since the last
// clearLog; 0 means every request of that command).
struct CouplerReplyFault {
    enum class Kind {
        Drop,           // no reply
        WrongLength,    // one byte too many
        WrongPageEcho,  // the page number in the reply is one higher
        Delay,          // the reply comes `delayMs` late
    };
    Kind kind;
    CouplerCommand command;
    int nth = 0;
    int delayMs = 0;
};

struct CouplerBootFaults {
    std::vector<CouplerReplyFault> replies;
    bool corruptStep2Echo = false;   // the Step 2 reply echoes a checksum with one bit flipped
    int flipFlashBitAt = -1;         // a write of this flash offset stores bit 0 flipped
    bool answerFromOtherPort = false;  // replies leave from the server's second port
};

class SimulatedCouplerBootLoader
{
public:
    static constexpr int kFlashBytes = 1024 * 1024;

    struct Reply {
        Datagram bytes;
        int delayMs = 0;
        bool fromOtherPort = false;
    };

    struct LoggedRequest {
        Datagram bytes;
        Datagram reply;               // empty when none was sent
        uint16_t arrivedAtPort = 0;   // the coupler's port the request was sent to
        uint16_t fromPort = 0;        // the PC's port it came from
        std::chrono::steady_clock::time_point received;
    };

    SimulatedCouplerBootLoader();

    // The answer to one request datagram, or nothing when the device stays silent.
    std::optional<Reply> handle(const Datagram &request, uint16_t arrivedAtPort = 0,
                                uint16_t fromPort = 0);

    void setFaults(const CouplerBootFaults &faults);
    // How long a restart into the boot loader or the firmware leaves the device deaf.
    void setRestartMs(int milliseconds);
    // Told of every change between the firmware (false) and the boot loader (true), outside any lock.
    void setModeListener(std::function<void(bool bootMode)> listener);
    void setFlash(const std::vector<uint8_t> &content);   // as if written and sealed long ago
    void enterBootLoader();   // as after a failed earlier update; before the coupler starts

    bool inBootMode() const;
    bool sealed() const;
    int startCount() const;
    std::vector<uint8_t> flash() const;
    std::vector<LoggedRequest> requests() const;
    std::vector<LoggedRequest> requestsOf(CouplerCommand command) const;
    void clearLog();

private:
    std::optional<Reply> answerLocked(const Datagram &request);
    std::optional<Reply> answer(CouplerCommand command, const Datagram &request);
    void restart(bool intoBootLoader);
    std::optional<Reply> writePage(const Datagram &request);
    std::optional<Reply> readPage(const Datagram &request);
    std::optional<Reply> checksumStep1(const Datagram &request);
    std::optional<Reply> checksumStep2(const Datagram &request);
    std::optional<int> pageOffset(const Datagram &request) const;
    std::array<uint8_t, 4> checksumOfWrittenPages() const;
    std::optional<Reply> applyFaults(CouplerCommand command, int count, Reply reply) const;

    mutable std::mutex m_mutex;
    std::vector<uint8_t> m_flash;
    bool m_bootMode = false;
    bool m_sealed = true;
    int m_writtenEnd = 0;         // end of the highest page written since boot mode was entered
    int m_startCount = 0;
    int m_restartMs = 0;
    std::chrono::steady_clock::time_point m_deafUntil;
    std::function<void(bool)> m_modeListener;
    CouplerBootFaults m_faults;
    std::vector<LoggedRequest> m_log;
    std::array<int, 256> m_seenOfCommand{};   // valid requests per command code since clearLog
};
