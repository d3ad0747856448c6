#include "sim/canopen_pty_server.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

void writeAll(int fd, const uint8_t *bytes, size_t count)
{
    while (count > 0) {
        const ssize_t done = ::write(fd, bytes, count);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return;
        bytes += done;
        count -= static_cast<size_t>(done);
    }
}

void makeRaw(int fd)
{
    termios mode{};
    if (::tcgetattr(fd, &mode) == 0) {
        cfmakeraw(&mode);
        ::tcsetattr(fd, TCSANOW, &mode);
    }
}

}

CanopenPtyServer::CanopenPtyServer(uint8_t nodeId, bool startInBootLoader)
    : m_coupler(nodeId, startInBootLoader)
{
}

CanopenPtyServer::~CanopenPtyServer()
{
    stop();
}

bool CanopenPtyServer::start(const std::string &linkPath)
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        m_error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    m_devicePath = ::ptsname(m_master);
    m_keepOpen = ::open(m_devicePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_keepOpen < 0) {
        m_error = "cannot open " + m_devicePath + ": " + std::strerror(errno);
        return false;
    }
    // Until the updater opens it, the terminal must not echo the replies back to us.
    makeRaw(m_keepOpen);
    makeRaw(m_master);
    ::unlink(linkPath.c_str());
    if (::symlink(m_devicePath.c_str(), linkPath.c_str()) != 0) {
        m_error = "cannot link " + linkPath + ": " + std::strerror(errno);
        return false;
    }
    m_linkPath = linkPath;
    m_stopping = false;
    m_thread = std::thread([this] { serve(); });
    return true;
}

void CanopenPtyServer::stop()
{
    if (m_thread.joinable()) {
        // A byte through our own opening of the device wakes the serving thread's read.
        m_stopping = true;
        const uint8_t wake = 0;
        writeAll(m_keepOpen, &wake, 1);
        m_thread.join();
    }
    for (int *fd : {&m_master, &m_keepOpen}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    if (!m_linkPath.empty())
        ::unlink(m_linkPath.c_str());
    m_linkPath.clear();
}

void CanopenPtyServer::withCoupler(const std::function<void(CanopenSimulatedCoupler &)> &access)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    access(m_coupler);
}

void CanopenPtyServer::setTiming(const Timing &timing)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timing = timing;
}

void CanopenPtyServer::onRequest(std::function<void(int)> observer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observer = std::move(observer);
}

void CanopenPtyServer::sendReply(const std::vector<uint8_t> &bytes, const Timing &timing)
{
    if (timing.replyDelayUs > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(timing.replyDelayUs));
    constexpr size_t firstPiece = 5;
    if (timing.splitReplies && bytes.size() > firstPiece) {
        writeAll(m_master, bytes.data(), firstPiece);
        std::this_thread::sleep_for(std::chrono::milliseconds(timing.pieceGapMs));
        writeAll(m_master, bytes.data() + firstPiece, bytes.size() - firstPiece);
    } else {
        writeAll(m_master, bytes.data(), bytes.size());
    }
}

void CanopenPtyServer::serve()
{
    CanopenSimulatedCoupler::Record record{};
    size_t filled = 0;
    // One blocking read a request: a poll beside it would cost a call more per exchange, and
    // sixteen couplers on one host make that count.
    for (;;) {
        uint8_t incoming[256];
        const ssize_t got = ::read(m_master, incoming, sizeof incoming);
        if (m_stopping)
            return;
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return;
        for (ssize_t i = 0; i < got; ++i) {
            record[filled++] = incoming[i];
            if (filled < record.size())
                continue;
            filled = 0;
            std::vector<uint8_t> answer;
            Timing timing;
            std::function<void(int)> observer;
            int number = 0;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                answer = m_coupler.handle(record);
                timing = m_timing;
                observer = m_observer;
                number = static_cast<int>(m_coupler.requests().size());
            }
            sendReply(answer, timing);
            if (observer)
                observer(number);
        }
    }
}
