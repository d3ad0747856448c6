#include "sim/coupler_udp_server.h"

#include "sim/coupler_boot_loader.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <vector>

namespace {

constexpr int kStopCheckMs = 50;
constexpr int kLargestDatagram = 65536;

int boundSocket(const std::string &address, uint16_t port)
{
    const int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (socket < 0)
        return -1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
        ::close(socket);
        errno = EINVAL;
        return -1;
    }
    if (::bind(socket, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        const int bindError = errno;
        ::close(socket);
        errno = bindError;
        return -1;
    }
    return socket;
}

}

CouplerUdpServer::CouplerUdpServer(SimulatedCouplerBootLoader &bootLoader, std::string address,
                                   uint16_t port, uint16_t otherPort, ReplyPort replyPort)
    : m_bootLoader(bootLoader), m_address(std::move(address)), m_ports{port, otherPort}, m_replyPort(replyPort)
{
}

CouplerUdpServer::~CouplerUdpServer()
{
    stop();
}

bool CouplerUdpServer::start()
{
    for (int i = 0; i < 2; ++i) {
        m_sockets[i] = boundSocket(m_address, m_ports[i]);
        if (m_sockets[i] < 0) {
            stop();
            return false;
        }
    }
    m_stopping = false;
    m_thread = std::thread(&CouplerUdpServer::serve, this);
    return true;
}

void CouplerUdpServer::stop()
{
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
    for (int &socket : m_sockets) {
        if (socket >= 0)
            ::close(socket);
        socket = -1;
    }
}

void CouplerUdpServer::serve()
{
    pollfd waiting[2] = {{m_sockets[0], POLLIN, 0}, {m_sockets[1], POLLIN, 0}};
    while (!m_stopping) {
        if (::poll(waiting, 2, kStopCheckMs) <= 0)
            continue;
        for (int i = 0; i < 2; ++i)
            if (waiting[i].revents & POLLIN)
                serveOne(m_sockets[i], m_ports[i]);
    }
}

void CouplerUdpServer::serveOne(int socket, uint16_t arrivedAtPort)
{
    static thread_local std::vector<uint8_t> buffer(kLargestDatagram);
    sockaddr_in sender{};
    socklen_t senderLength = sizeof sender;
    const ssize_t length = ::recvfrom(socket, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                      reinterpret_cast<sockaddr *>(&sender), &senderLength);
    if (length < 0)
        return;
    const std::vector<uint8_t> request(buffer.begin(), buffer.begin() + length);
    const auto reply = m_bootLoader.handle(request, arrivedAtPort, ntohs(sender.sin_port));
    if (!reply)
        return;
    if (reply->delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(reply->delayMs));
    constexpr size_t kNamedPortOffset = 7;
    if (m_replyPort == ReplyPort::NamedInRequest)
        std::memcpy(&sender.sin_port, request.data() + kNamedPortOffset, sizeof sender.sin_port);
    const int from = reply->fromOtherPort ? m_sockets[1] : socket;
    ::sendto(from, reply->bytes.data(), reply->bytes.size(), 0, reinterpret_cast<sockaddr *>(&sender),
             senderLength);
}
