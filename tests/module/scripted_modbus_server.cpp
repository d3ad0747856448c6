#include "tests/module/scripted_modbus_server.h"

#include "modbus/mbap_frame.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace {

bool readAll(int socket, uint8_t *into, int wanted)
{
    int got = 0;
    while (got < wanted) {
        const ssize_t n = ::recv(socket, into + got, static_cast<size_t>(wanted - got), 0);
        if (n <= 0)
            return false;
        got += static_cast<int>(n);
    }
    return true;
}

}

ScriptedModbusServer::ScriptedModbusServer(const std::string &ip, std::vector<Segments> replies,
                                           std::vector<int> delaysMs)
    : m_replies(std::move(replies)), m_delaysMs(std::move(delaysMs))
{
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int reuse = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::inet_addr(ip.c_str());
    if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(m_listener, 1) != 0) {
        ::close(m_listener);
        m_listener = -1;
        return;
    }
    socklen_t length = sizeof address;
    ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread(&ScriptedModbusServer::serve, this);
}

ScriptedModbusServer::~ScriptedModbusServer()
{
    if (m_listener >= 0)
        ::shutdown(m_listener, SHUT_RDWR);
    if (m_thread.joinable())
        m_thread.join();
    if (m_listener >= 0)
        ::close(m_listener);
}

std::vector<std::vector<uint8_t>> ScriptedModbusServer::requestsAfterClose()
{
    if (m_thread.joinable())
        m_thread.join();
    return m_requests;
}

void ScriptedModbusServer::serve()
{
    const int client = ::accept(m_listener, nullptr, nullptr);
    if (client < 0)
        return;
    const int noDelay = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    size_t next = 0;
    for (;;) {
        std::vector<uint8_t> frame(Mbap::kLengthPrefixBytes);
        if (!readAll(client, frame.data(), Mbap::kLengthPrefixBytes))
            break;
        frame.resize(static_cast<size_t>(Mbap::frameBytes(frame.data())));
        if (!readAll(client, frame.data() + Mbap::kLengthPrefixBytes,
                     static_cast<int>(frame.size()) - Mbap::kLengthPrefixBytes))
            break;
        m_requests.push_back(frame);
        requestTimes.push_back(std::chrono::steady_clock::now());
        if (next >= m_replies.size())
            continue;
        const Segments &segments = m_replies[next];
        if (next < m_delaysMs.size())
            std::this_thread::sleep_for(std::chrono::milliseconds(m_delaysMs[next]));
        for (size_t i = 0; i < segments.size(); ++i) {
            if (i > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ::send(client, segments[i].data(), segments[i].size(), MSG_NOSIGNAL);
        }
        replyTimes.push_back(std::chrono::steady_clock::now());
        ++next;
    }
    ::close(client);
}
