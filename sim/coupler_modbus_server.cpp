#include "sim/coupler_modbus_server.h"

#include "modbus/mbap_frame.h"

#include <modbus/modbus.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <memory>

namespace {

constexpr int kFunctionOffset = Mbap::kHeaderBytes;
constexpr int kShortestRequestLength = 2;   // unit identifier and function code
constexpr uint8_t kUserFunction = 109;
constexpr int kMaxRegistersPerRead = 125;
constexpr int kSplitGapMs = 20;
constexpr int kBacklog = 8;
constexpr int kAcceptRetryMs = 10;

uint16_t bigEndian16(const uint8_t *bytes)
{
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

// The requests of one client, framed by their MBAP length fields (libmodbus frames requests by
// function code and does not know function 109). Whatever one recv brings is kept, so a request
// that arrives whole, or together with the next, costs one recv and not one per part.
class RequestReader
{
public:
    explicit RequestReader(int socket) : m_socket(socket) {}

    bool next(std::vector<uint8_t> &adu)
    {
        if (!buffer(Mbap::kHeaderBytes))
            return false;
        const uint8_t *start = m_bytes.data() + m_begin;
        const Mbap::Header header = Mbap::decodeHeader(start);
        const int total = Mbap::frameBytes(start);
        if (header.protocolId != 0 || header.length < kShortestRequestLength || total > Mbap::kMaxFrameBytes
            || !buffer(size_t(total)))
            return false;
        adu.assign(m_bytes.begin() + long(m_begin), m_bytes.begin() + long(m_begin) + total);
        m_begin += size_t(total);
        return true;
    }

private:
    // Receives until `wanted` bytes from the current one on are there.
    bool buffer(size_t wanted)
    {
        if (m_end - m_begin >= wanted)
            return true;
        std::copy(m_bytes.begin() + long(m_begin), m_bytes.begin() + long(m_end), m_bytes.begin());
        m_end -= m_begin;
        m_begin = 0;
        while (m_end < wanted) {
            const ssize_t n = ::recv(m_socket, m_bytes.data() + m_end, m_bytes.size() - m_end, 0);
            if (n <= 0)
                return false;
            m_end += size_t(n);
        }
        return true;
    }

    int m_socket;
    std::array<uint8_t, 16 * Mbap::kMaxFrameBytes> m_bytes{};
    size_t m_begin = 0;
    size_t m_end = 0;
};

void sendAll(int socket, const uint8_t *bytes, size_t n)
{
    ::send(socket, bytes, n, MSG_NOSIGNAL);
}

}

CouplerModbusServer::CouplerModbusServer(std::string address, int port, std::map<int, uint16_t> ownRegisters,
                                         ModbusExtension *extension, Behaviour behaviour)
    : m_address(std::move(address)),
      m_port(port),
      m_extension(extension),
      m_behaviour(behaviour),
      m_registers(std::move(ownRegisters))
{
}

CouplerModbusServer::~CouplerModbusServer()
{
    stop();
}

bool CouplerModbusServer::start()
{
    m_listenContext = modbus_new_tcp(m_address.c_str(), m_port);
    if (!m_listenContext)
        return false;
    m_listener = modbus_tcp_listen(m_listenContext, kBacklog);
    if (m_listener < 0) {
        modbus_free(m_listenContext);
        m_listenContext = nullptr;
        return false;
    }
    sockaddr_in bound{};
    socklen_t boundLength = sizeof bound;
    if (::getsockname(m_listener, reinterpret_cast<sockaddr *>(&bound), &boundLength) == 0)
        m_port = ntohs(bound.sin_port);
    m_stopping = false;
    m_acceptor = std::thread(&CouplerModbusServer::acceptClients, this);
    return true;
}

void CouplerModbusServer::stop()
{
    m_stopping = true;
    if (m_listener >= 0)
        ::shutdown(m_listener, SHUT_RDWR);
    if (m_acceptor.joinable())
        m_acceptor.join();
    std::list<ClientThread> clients;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int client : m_clients)
            ::shutdown(client, SHUT_RDWR);
        clients.swap(m_clientThreads);
    }
    for (ClientThread &client : clients)
        client.thread.join();
    if (m_listener >= 0)
        ::close(m_listener);
    m_listener = -1;
    if (m_listenContext)
        modbus_free(m_listenContext);
    m_listenContext = nullptr;
}

void CouplerModbusServer::acceptClients()
{
    while (!m_stopping) {
        int listener = m_listener;
        const int client = modbus_tcp_accept(m_listenContext, &listener);
        joinFinishedClients();
        if (client < 0) {
            if (m_stopping || errno == EINVAL || errno == EBADF)
                return;   // the listener was shut down
            std::this_thread::sleep_for(std::chrono::milliseconds(kAcceptRetryMs));
            continue;
        }
        const int noDelay = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_clients.push_back(client);
        ClientThread &thread = m_clientThreads.emplace_back();
        thread.thread = std::thread(&CouplerModbusServer::serveClient, this, client, &thread.done);
    }
}

void CouplerModbusServer::joinFinishedClients()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto client = m_clientThreads.begin(); client != m_clientThreads.end();) {
        if (client->done) {
            client->thread.join();
            client = m_clientThreads.erase(client);
        } else {
            ++client;
        }
    }
}

void CouplerModbusServer::serveClient(int client, std::atomic<bool> *done)
{
    // A context of its own per client: libmodbus replies on the context's socket.
    const std::unique_ptr<modbus_t, decltype(&modbus_free)> context(modbus_new_tcp(m_address.c_str(), m_port),
                                                                     &modbus_free);
    modbus_set_socket(context.get(), client);
    std::vector<uint8_t> adu;
    RequestReader requests(client);
    while (!m_stopping && requests.next(adu)) {
        if (m_behaviour == Behaviour::Answering)
            answer(context.get(), adu);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_clients.erase(std::remove(m_clients.begin(), m_clients.end(), client), m_clients.end());
        ::close(client);
    }
    *done = true;
}

void CouplerModbusServer::answer(modbus_t *context, const std::vector<uint8_t> &adu)
{
    const uint8_t function = adu[kFunctionOffset];
    if (function == MODBUS_FC_READ_HOLDING_REGISTERS && adu.size() == size_t(Mbap::kHeaderBytes + 5))
        answerRegisterRead(context, adu);
    else if (function == kUserFunction && m_extension)
        answerUserFunction(modbus_get_socket(context), adu);
    else
        modbus_reply_exception(context, adu.data(), MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
}

void CouplerModbusServer::answerRegisterRead(modbus_t *context, const std::vector<uint8_t> &adu)
{
    const int first = bigEndian16(adu.data() + kFunctionOffset + 1);
    const int count = bigEndian16(adu.data() + kFunctionOffset + 3);
    if (count < 1 || count > kMaxRegistersPerRead) {
        modbus_reply_exception(context, adu.data(), MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
        return;
    }
    const std::unique_ptr<modbus_mapping_t, decltype(&modbus_mapping_free)> mapping(
        modbus_mapping_new_start_address(0, 0, 0, 0, static_cast<unsigned>(first), static_cast<unsigned>(count), 0, 0),
        &modbus_mapping_free);
    for (int i = 0; i < count; ++i) {
        if (!readRegister(first + i, mapping->tab_registers[i])) {
            modbus_reply_exception(context, adu.data(), MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
            return;
        }
    }
    modbus_reply(context, adu.data(), static_cast<int>(adu.size()), mapping.get());
}

bool CouplerModbusServer::readRegister(int address, uint16_t &value)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto own = m_registers.find(address);
        if (own != m_registers.end()) {
            value = own->second;
            m_registerReads.push_back(address);
            return true;
        }
    }
    return m_extension && m_extension->readHoldingRegister(address, value);
}

void CouplerModbusServer::answerUserFunction(int client, const std::vector<uint8_t> &adu)
{
    const std::vector<uint8_t> pdu(adu.begin() + kFunctionOffset, adu.end());
    const ExtensionReply reply = m_extension->handleUserFunction(pdu);
    if (!reply.send)
        return;
    if (reply.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMs));
    const Mbap::Header request = Mbap::decodeHeader(adu.data());
    const std::vector<uint8_t> frame = Mbap::frame(request.transactionId, request.unitId, reply.pdu);
    const size_t split = reply.splitAfterBytes > 0 ? static_cast<size_t>(reply.splitAfterBytes) : 0;
    if (split > 0 && split < frame.size()) {
        sendAll(client, frame.data(), split);
        std::this_thread::sleep_for(std::chrono::milliseconds(kSplitGapMs));
        sendAll(client, frame.data() + split, frame.size() - split);
    } else {
        sendAll(client, frame.data(), frame.size());
    }
    if (reply.againAfterMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(reply.againAfterMs));
        sendAll(client, frame.data(), frame.size());
    }
}

void CouplerModbusServer::setRegister(int address, uint16_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_registers[address] = value;
}

std::vector<int> CouplerModbusServer::registerReads() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_registerReads;
}
