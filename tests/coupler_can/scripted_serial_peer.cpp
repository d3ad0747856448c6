#include "tests/coupler_can/scripted_serial_peer.h"

#include "platform/com_port_table.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

ScriptedSerialPeer::ScriptedSerialPeer(int portNumber)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return;
    const QByteArray device = ::ptsname(master);
    m_keepOpen = ::open(device.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode{};
    ::tcgetattr(m_keepOpen, &mode);
    cfmakeraw(&mode);
    ::tcsetattr(m_keepOpen, TCSANOW, &mode);
    const QByteArray link = (m_directory.path() + "/COM" + QString::number(portNumber)).toLocal8Bit();
    if (::symlink(device.constData(), link.constData()) != 0)
        return;
    qputenv(ComPortTable::directoryVariable, m_directory.path().toLocal8Bit());
    m_master = master;
}

ScriptedSerialPeer::~ScriptedSerialPeer()
{
    qunsetenv(ComPortTable::directoryVariable);
    if (m_master >= 0)
        ::close(m_master);
    if (m_keepOpen >= 0)
        ::close(m_keepOpen);
}

QByteArray ScriptedSerialPeer::take(int count)
{
    QByteArray bytes;
    while (bytes.size() < count) {
        pollfd waiting{m_master, POLLIN, 0};
        if (::poll(&waiting, 1, 1000) <= 0)
            break;
        char buffer[256];
        const ssize_t got = ::read(m_master, buffer, static_cast<size_t>(qMin(256, count - bytes.size())));
        if (got <= 0)
            break;
        bytes.append(buffer, static_cast<int>(got));
    }
    return bytes;
}

void ScriptedSerialPeer::reply(const QByteArray &bytes)
{
    if (::write(m_master, bytes.constData(), static_cast<size_t>(bytes.size())) != bytes.size())
        qWarning("short write to the pseudo-terminal");
}

void ScriptedSerialPeer::replyInPieces(const QByteArray &first, const QByteArray &rest, int gapMs)
{
    reply(first);
    const int master = m_master;
    std::thread([master, rest, gapMs] {
        std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
        if (::write(master, rest.constData(), static_cast<size_t>(rest.size())) != rest.size())
            qWarning("short write to the pseudo-terminal");
    }).detach();
}
