#include "sim/module_bank_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace {

constexpr int kMbapBytes = 7;
constexpr uint8_t kReadHoldingRegisters = 3;
constexpr uint8_t kUserFunction = 109;
constexpr uint8_t kExceptionFlag = 0x80;
constexpr uint8_t kIllegalFunction = 1;
constexpr uint8_t kIllegalDataAddress = 2;
constexpr int kMaxRegistersPerRead = 125;
constexpr int kSplitGapMs = 20;

bool readAll(int socket, uint8_t *into, size_t wanted)
{
    size_t got = 0;
    while (got < wanted) {
        const ssize_t n = ::recv(socket, into + got, wanted - got, 0);
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

void sendAll(int socket, const uint8_t *bytes, size_t n)
{
    ::send(socket, bytes, n, MSG_NOSIGNAL);
}

std::vector<uint8_t> exceptionPdu(uint8_t function, uint8_t code)
{
    return {static_cast<uint8_t>(function | kExceptionFlag), code};
}

}

ModuleBankServer::ModuleBankServer(std::string address, int port, ModbusExtension &extension)
    : m_address(std::move(address)), m_port(port), m_extension(extension)
{
}

ModuleBankServer::~ModuleBankServer()
{
    stop();
}

bool ModuleBankServer::start()
{
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (m_listener < 0)
        return false;
    const int reuse = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(m_port));
    if (::inet_pton(AF_INET, m_address.c_str(), &address.sin_addr) != 1
        || ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(m_listener, 4) != 0) {
        ::close(m_listener);
        m_listener = -1;
        return false;
    }
    m_thread = std::thread(&ModuleBankServer::serve, this);
    return true;
}

void ModuleBankServer::stop()
{
    m_stopping = true;
    if (m_listener >= 0)
        ::shutdown(m_listener, SHUT_RDWR);
    const int client = m_client.load();
    if (client >= 0)
        ::shutdown(client, SHUT_RDWR);
    if (m_thread.joinable())
        m_thread.join();
    if (m_listener >= 0)
        ::close(m_listener);
    m_listener = -1;
}

void ModuleBankServer::serve()
{
    while (!m_stopping) {
        const int client = ::accept(m_listener, nullptr, nullptr);
        if (client < 0)
            return;
        const int noDelay = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        m_client = client;
        serveClient(client);
        m_client = -1;
        ::close(client);
    }
}

void ModuleBankServer::serveClient(int client)
{
    while (!m_stopping) {
        uint8_t header[kMbapBytes];
        if (!readAll(client, header, sizeof header))
            return;
        const int length = (header[4] << 8) | header[5];
        if (length < 2)
            return;
        std::vector<uint8_t> pdu(static_cast<size_t>(length - 1));
        if (!readAll(client, pdu.data(), pdu.size()))
            return;
        ExtensionReply reply;
        const std::vector<uint8_t> replyPdu = answer(pdu, reply);
        if (!reply.send)
            continue;
        if (reply.delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMs));
        const size_t replyLength = replyPdu.size() + 1;
        std::vector<uint8_t> frame = {header[0], header[1], 0, 0, static_cast<uint8_t>(replyLength >> 8),
                                      static_cast<uint8_t>(replyLength), header[6]};
        frame.insert(frame.end(), replyPdu.begin(), replyPdu.end());
        const size_t split = reply.splitAfterBytes > 0 ? static_cast<size_t>(reply.splitAfterBytes) : 0;
        if (split > 0 && split < frame.size()) {
            sendAll(client, frame.data(), split);
            std::this_thread::sleep_for(std::chrono::milliseconds(kSplitGapMs));
            sendAll(client, frame.data() + split, frame.size() - split);
        } else {
            sendAll(client, frame.data(), frame.size());
        }
    }
}

std::vector<uint8_t> ModuleBankServer::answer(const std::vector<uint8_t> &pdu, ExtensionReply &reply)
{
    if (pdu[0] == kUserFunction) {
        reply = m_extension.handleUserFunction(pdu);
        return reply.pdu;
    }
    if (pdu[0] != kReadHoldingRegisters || pdu.size() != 5)
        return exceptionPdu(pdu[0], kIllegalFunction);
    const int first = (pdu[1] << 8) | pdu[2];
    const int count = (pdu[3] << 8) | pdu[4];
    if (count < 1 || count > kMaxRegistersPerRead)
        return exceptionPdu(pdu[0], kIllegalDataAddress);
    std::vector<uint8_t> values = {kReadHoldingRegisters, static_cast<uint8_t>(2 * count)};
    for (int address = first; address < first + count; ++address) {
        uint16_t value = 0;
        if (!m_extension.readHoldingRegister(address, value))
            return exceptionPdu(pdu[0], kIllegalDataAddress);
        values.push_back(static_cast<uint8_t>(value >> 8));
        values.push_back(static_cast<uint8_t>(value));
    }
    return values;
}
