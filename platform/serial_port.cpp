#include "platform/serial_port.h"

#include "core/deadline.h"

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

SerialPort::~SerialPort()
{
    close();
}

namespace {

// The group whose members may read and write the device (dialout for most serial ports), or
// nothing when there is none worth joining (root's group, or no group access).
std::string groupWithAccess(const std::string &devicePath)
{
    struct stat status {};
    if (::stat(devicePath.c_str(), &status) != 0 || status.st_gid == 0
        || (status.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
        return {};
    const group *owner = ::getgrgid(status.st_gid);
    return owner ? owner->gr_name : std::string();
}

}

std::string SerialPort::describeOpenFailure(int error, const std::string &devicePath)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return devicePath + ": no such device. Is the coupler's USB cable plugged in?";
    case EACCES:
    case EPERM: {
        const std::string group = groupWithAccess(devicePath);
        if (group.empty())
            return devicePath + ": permission denied. Ask an administrator for access to the port "
                                "(for example the dialout group or a udev rule).";
        return devicePath + ": permission denied. Join the group that owns the port (" + group
            + "): sudo usermod -aG " + group + " $USER, then log in again.";
    }
    case EWOULDBLOCK:
    case EBUSY:
        return devicePath + ": held by another program. Close the other program that uses the port.";
    default:
        return devicePath + ": " + std::strerror(error);
    }
}

bool SerialPort::fail(int error, const std::string &devicePath)
{
    m_openFailure = describeOpenFailure(error, devicePath);
    return false;
}

bool SerialPort::open(const std::string &devicePath)
{
    close();
    m_openFailure.clear();
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return fail(errno, devicePath);
    // The lock keeps every other opener off the port (also one running as root, which the
    // terminal's own exclusive mode would let through); TIOCEXCL turns away the rest.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int lockError = errno;
        ::close(fd);
        return fail(lockError, devicePath);
    }
    ::ioctl(fd, TIOCEXCL);
    termios mode{};
    if (::tcgetattr(fd, &mode) == 0) {
        // Raw only so the bytes pass unchanged (no echo, no line editing, no CR/LF mapping,
        // 8 data bits); the line speed stays whatever the driver has.
        const speed_t input = cfgetispeed(&mode);
        const speed_t output = cfgetospeed(&mode);
        cfmakeraw(&mode);
        cfsetispeed(&mode, input);
        cfsetospeed(&mode, output);
        mode.c_cflag |= CREAD | CLOCAL;
        mode.c_cc[VMIN] = 1;
        mode.c_cc[VTIME] = 0;
        ::tcsetattr(fd, TCSANOW, &mode);
    }
    m_fd = fd;
    return true;
}

void SerialPort::close()
{
    if (m_fd >= 0) {
        // The exclusive mode belongs to the terminal, not to this opening: it would outlast us
        // while anyone else (a simulator, say) still holds the device open.
        ::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
        m_fd = -1;
    }
}

void SerialPort::purge()
{
    if (m_fd >= 0)
        ::tcflush(m_fd, TCIOFLUSH);
}

size_t SerialPort::read(unsigned char *buffer, size_t count)
{
    if (m_fd < 0 || count == 0)
        return 0;
    const Deadline deadline = Deadline::afterMilliseconds(m_timeouts.readTotalTimeoutMs);
    for (;;) {
        pollfd waiting{m_fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, deadline.remainingMillisecondsRoundedUp());
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || !(waiting.revents & POLLIN))
            return 0;
        const ssize_t got = ::read(m_fd, buffer, count);
        if (got > 0)
            return static_cast<size_t>(got);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        return 0;
    }
}

size_t SerialPort::write(const unsigned char *bytes, size_t count)
{
    size_t written = 0;
    while (m_fd >= 0 && written < count) {
        const ssize_t done = ::write(m_fd, bytes + written, count - written);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            break;
        written += static_cast<size_t>(done);
    }
    return written;
}
