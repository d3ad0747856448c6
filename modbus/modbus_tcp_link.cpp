#include "modbus/modbus_tcp_link.h"

#include "modbus/mbap_frame.h"

#include <modbus/modbus.h>

#include <algorithm>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

namespace {

int toMilliseconds(uint32_t seconds, uint32_t microseconds)
{
    return static_cast<int>(seconds * 1000 + microseconds / 1000);
}

}

std::unique_ptr<ModbusTcpLink> ModbusTcpLink::connect(const std::string &ip, int port, std::string *failure)
{
    return connectWithin(ip, port, 0, failure);
}

// The library connects without blocking and waits for the connection up to its response
// time-out; that time-out is shortened for the connection alone when asked.
std::unique_ptr<ModbusTcpLink> ModbusTcpLink::connectWithin(const std::string &ip, int port, int connectTimeoutMs,
                                                            std::string *failure)
{
    in_addr parsed{};
    if (::inet_pton(AF_INET, ip.c_str(), &parsed) != 1) {
        if (failure)
            *failure = "not an IPv4 address";
        return nullptr;
    }
    modbus_t *context = modbus_new_tcp(ip.c_str(), port);
    std::unique_ptr<ModbusTcpLink> link(context ? new ModbusTcpLink(context) : nullptr);
    uint32_t seconds = 0;
    uint32_t microseconds = 0;
    if (link) {
        modbus_get_response_timeout(context, &seconds, &microseconds);
        if (connectTimeoutMs > 0)
            modbus_set_response_timeout(context, uint32_t(connectTimeoutMs / 1000), uint32_t(connectTimeoutMs % 1000) * 1000);
    }
    if (link && modbus_connect(context) == 0) {
        modbus_set_response_timeout(context, seconds, microseconds);
        link->waitForRepliesUpTo(seconds, microseconds);
        return link;
    }
    if (failure)
        *failure = modbus_strerror(errno);
    return nullptr;
}

ModbusTcpLink::ModbusTcpLink(modbus_t *context) : m_context(context) {}

ModbusTcpLink::~ModbusTcpLink()
{
    modbus_close(m_context);
    modbus_free(m_context);
}

void ModbusTcpLink::setResponseTimeout(int seconds, int microseconds)
{
    modbus_set_response_timeout(m_context, static_cast<uint32_t>(seconds),
                                static_cast<uint32_t>(microseconds));
    waitForRepliesUpTo(static_cast<uint32_t>(seconds), static_cast<uint32_t>(microseconds));
}

// The first part of a reply is received by a recv that waits itself, up to the response
// time-out: one call per reply instead of a poll and a recv.
// The library may leave its socket non-blocking (it connects with a time-out that way): the
// socket is made blocking, which the library's own reads do not mind, as they wait for
// readability before they read. A time-out of 0 would make the recv wait for ever, so it becomes
// the shortest one the socket knows.
void ModbusTcpLink::waitForRepliesUpTo(uint32_t seconds, uint32_t microseconds)
{
    const int socket = modbus_get_socket(m_context);
    const int flags = ::fcntl(socket, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK))
        ::fcntl(socket, F_SETFL, flags & ~O_NONBLOCK);
    const uint64_t total = std::max<uint64_t>(uint64_t(seconds) * 1000000 + microseconds, 1);
    const timeval timeout{static_cast<time_t>(total / 1000000), static_cast<suseconds_t>(total % 1000000)};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

// Transaction identifiers of raw requests are always 0, so a reply that came after its wait had
// ended, or a second answer to one request, could not be told from the next reply: whatever is
// pending is dropped before every request.
void ModbusTcpLink::sendRawRequest(const uint8_t *request, int length)
{
    dropPending();
    modbus_send_raw_request(m_context, request, length);
}

int ModbusTcpLink::receiveReply(uint8_t *frame)
{
    return Mbap::readFrame(
        [this](uint8_t *into, int wanted, bool firstRead) { return readSome(into, wanted, firstRead); }, frame);
}

void ModbusTcpLink::dropPending()
{
    m_receivedBegin = m_receivedEnd = 0;
    modbus_flush(m_context);
}

// Takes what was received already; otherwise waits for the library's socket to become readable
// (the response time-out before the first byte of a reply, the byte time-out between its parts)
// and receives what is there.
int ModbusTcpLink::readSome(uint8_t *into, int wanted, bool firstRead)
{
    if (m_receivedBegin == m_receivedEnd && !receiveMore(firstRead))
        return 0;
    const size_t taken = std::min(static_cast<size_t>(wanted), m_receivedEnd - m_receivedBegin);
    std::memcpy(into, m_received.data() + m_receivedBegin, taken);
    m_receivedBegin += taken;
    return static_cast<int>(taken);
}

bool ModbusTcpLink::receiveMore(bool firstRead)
{
    const int socket = modbus_get_socket(m_context);
    if (socket < 0 || (!firstRead && !awaitMoreBytes(socket)))
        return false;
    ssize_t n;
    do {
        n = ::recv(socket, m_received.data(), m_received.size(), 0);
    } while (n < 0 && errno == EINTR);
    m_receivedBegin = 0;
    m_receivedEnd = n > 0 ? static_cast<size_t>(n) : 0;
    return n > 0;
}

// The rest of a reply that came in parts, within the byte time-out.
bool ModbusTcpLink::awaitMoreBytes(int socket)
{
    uint32_t seconds = 0;
    uint32_t microseconds = 0;
    modbus_get_byte_timeout(m_context, &seconds, &microseconds);
    pollfd readable{socket, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&readable, 1, toMilliseconds(seconds, microseconds));
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

bool ModbusTcpLink::readHoldingRegister(int address, uint16_t &value)
{
    dropPending();
    if (modbus_read_registers(m_context, address, 1, &value) == 1)
        return true;
    m_lastReadFailure = modbus_strerror(errno);
    return false;
}
