#include "modbus/modbus_tcp_link.h"

#include "modbus/mbap_frame.h"

#include <modbus/modbus.h>

#include <arpa/inet.h>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

namespace {

int toMilliseconds(uint32_t seconds, uint32_t microseconds)
{
    return static_cast<int>(seconds * 1000 + microseconds / 1000);
}

}

std::unique_ptr<ModbusTcpLink> ModbusTcpLink::connect(const std::string &ip, int port, std::string *failure)
{
    in_addr parsed{};
    if (::inet_pton(AF_INET, ip.c_str(), &parsed) != 1) {
        if (failure)
            *failure = "not an IPv4 address";
        return nullptr;
    }
    modbus_t *context = modbus_new_tcp(ip.c_str(), port);
    std::unique_ptr<ModbusTcpLink> link(context ? new ModbusTcpLink(context) : nullptr);
    if (link && modbus_connect(context) == 0)
        return link;
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
}

// Transaction identifiers of raw requests are always 0, so a reply that came after its wait had
// ended could not be told from the next one; whatever is pending is dropped before each request.
void ModbusTcpLink::sendRawRequest(const uint8_t *request, int length)
{
    modbus_flush(m_context);
    modbus_send_raw_request(m_context, request, length);
}

int ModbusTcpLink::receiveReply(uint8_t *frame)
{
    return Mbap::readFrame(
        [this](uint8_t *into, int wanted, bool firstRead) { return readSome(into, wanted, firstRead); },
        frame);
}

// One recv on the library's socket after waiting for it to become readable: the response
// time-out before the first byte of a reply, the byte time-out between its parts.
int ModbusTcpLink::readSome(uint8_t *into, int wanted, bool firstRead)
{
    uint32_t seconds = 0;
    uint32_t microseconds = 0;
    if (firstRead)
        modbus_get_response_timeout(m_context, &seconds, &microseconds);
    else
        modbus_get_byte_timeout(m_context, &seconds, &microseconds);
    const int socket = modbus_get_socket(m_context);
    if (socket < 0)
        return 0;
    pollfd readable{socket, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&readable, 1, toMilliseconds(seconds, microseconds));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0)
        return 0;
    const ssize_t n = ::recv(socket, into, static_cast<size_t>(wanted), 0);
    return n > 0 ? static_cast<int>(n) : 0;
}

bool ModbusTcpLink::readHoldingRegister(int address, uint16_t &value)
{
    modbus_flush(m_context);
    if (modbus_read_registers(m_context, address, 1, &value) == 1)
        return true;
    m_lastReadFailure = modbus_strerror(errno);
    return false;
}
