#include "platform/datagram_socket.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <csignal>
#include <cstring>

bool DatagramSocket::startSocketLibrary()
{
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

int DatagramSocket::sendTo(int descriptor, const uint8_t *bytes, int length, const sockaddr_in &destination)
{
    ssize_t sent;
    do {
        sent = ::sendto(descriptor, bytes, static_cast<size_t>(length), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr *>(&destination), sizeof destination);
    } while (sent < 0 && errno == EINTR);
    return static_cast<int>(sent);
}

int DatagramSocket::receiveFrom(int descriptor, uint8_t *buffer, int capacity, sockaddr_in &sender)
{
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    ssize_t received;
    do {
        received = ::recvfrom(descriptor, buffer, static_cast<size_t>(capacity), MSG_DONTWAIT,
                              reinterpret_cast<sockaddr *>(&from), &fromLength);
    } while (received < 0 && errno == EINTR);
    if (received < 0)
        return -1;
    if (from.sin_family == AF_INET)
        sender = from;
    return static_cast<int>(received);
}

bool DatagramSocket::waitUntilReadable(int descriptor, int milliseconds)
{
    pollfd readable{descriptor, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&readable, 1, milliseconds);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (readable.revents & POLLIN);
}

int DatagramSocket::discardQueued(int descriptor)
{
    uint8_t scrap[1];
    int dropped = 0;
    while (::recv(descriptor, scrap, sizeof scrap, MSG_DONTWAIT) >= 0)
        ++dropped;
    return dropped;
}

void DatagramSocket::disableBroadcast(int descriptor)
{
    const int off = 0;
    ::setsockopt(descriptor, SOL_SOCKET, SO_BROADCAST, &off, sizeof off);
}

uint32_t DatagramSocket::addressFromText(const std::string &dottedText)
{
    return ::inet_addr(dottedText.c_str());
}

sockaddr_in DatagramSocket::socketAddress(uint32_t networkAddress, uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = networkAddress;
    return address;
}

uint16_t DatagramSocket::hostToNetwork(uint16_t port)
{
    return htons(port);
}

uint16_t DatagramSocket::networkToHost(uint16_t port)
{
    return ntohs(port);
}

std::string DatagramSocket::addressText(const sockaddr_in &address)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

int DatagramSocket::lastSocketError()
{
    return errno;
}

std::string DatagramSocket::errorText(int code)
{
    return std::strerror(code);
}
