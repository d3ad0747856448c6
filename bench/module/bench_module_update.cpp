// One module updated with a 1 MiB image by the module page's engine (select, handshake, erase,
// blocks 1..1023 then block 0, read-back, start; advance mode, so no register checks), over a real libmodbus context against
// the simulated module answering at once on loopback. Prints the total, the fixed pauses, the
// number of exchanges and the time per exchange, and compares the total with the pauses plus
// one measured loopback round trip per exchange.
#include "core/fixed_waits.h"
#include "firmware/hex_image.h"
#include "modbus/modbus_tcp_link.h"
#include "module/module_update_engine.h"
#include "sim/module_bank.h"
#include "sim/simulated_coupler.h"

#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *kAddress = "127.0.0.59";
constexpr int kImageBytes = 1024 * 1024;
constexpr int kModule = 1;
constexpr int kRoundTripSamples = 2000;
constexpr int kRoundTripBytes = 206;   // the largest read reply

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Counts what the run puts on the wire: requests that wait for a reply, and those that do not.
class CountingLink : public PassThroughLink
{
public:
    explicit CountingLink(PassThroughLink &inner) : m_inner(inner) {}
    void setResponseTimeout(int s, int us) override { m_inner.setResponseTimeout(s, us); }
    void sendRawRequest(const uint8_t *request, int length) override
    {
        ++requests;
        m_inner.sendRawRequest(request, length);
    }
    int receiveReply(uint8_t *frame) override
    {
        ++replyWaits;
        return m_inner.receiveReply(frame);
    }
    bool readHoldingRegister(int address, uint16_t &value) override
    {
        return m_inner.readHoldingRegister(address, value);
    }
    long requests = 0;
    long replyWaits = 0;

private:
    PassThroughLink &m_inner;
};

// Mean time of one request/reply of kRoundTripBytes over a loopback TCP connection with
// TCP_NODELAY, between two threads: what an exchange costs when both ends answer at once.
double loopbackRoundTripSeconds()
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(5020);
    ::inet_pton(AF_INET, kAddress, &address.sin_addr);
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(listener, 1) != 0) {
        ::close(listener);
        return -1;
    }
    std::thread echo([listener] {
        const int peer = ::accept(listener, nullptr, nullptr);
        const int yes = 1;
        ::setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        char buffer[kRoundTripBytes];
        for (int i = 0; i < kRoundTripSamples; ++i) {
            int got = 0;
            while (got < kRoundTripBytes) {
                const ssize_t n = ::recv(peer, buffer + got, sizeof buffer - static_cast<size_t>(got), 0);
                if (n <= 0)
                    break;
                got += static_cast<int>(n);
            }
            ::send(peer, buffer, sizeof buffer, MSG_NOSIGNAL);
        }
        ::close(peer);
    });
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::connect(client, reinterpret_cast<sockaddr *>(&address), sizeof address);
    char buffer[kRoundTripBytes] = {};
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kRoundTripSamples; ++i) {
        ::send(client, buffer, sizeof buffer, MSG_NOSIGNAL);
        int got = 0;
        while (got < kRoundTripBytes) {
            const ssize_t n = ::recv(client, buffer + got, sizeof buffer - static_cast<size_t>(got), 0);
            if (n <= 0)
                break;
            got += static_cast<int>(n);
        }
    }
    const double perRoundTrip = secondsSince(start) / kRoundTripSamples;
    ::close(client);
    echo.join();
    ::close(listener);
    return perRoundTrip;
}

}

int main()
{
    ModuleBank bank(1);
    bank.setModule(kModule, {0x0A31, 0x1000, true});
    SimulatedCouplerSetup setup;
    setup.address = kAddress;
    setup.modules = &bank;
    setup.modbusPort = 0;   // one the system chooses
    SimulatedCoupler coupler(setup);
    std::string failure;
    if (!coupler.start(failure)) {
        std::fprintf(stderr, "cannot start the simulated coupler: %s\n", failure.c_str());
        return 1;
    }
    HexImage hex(HexPageProfile::module());
    std::mt19937 generator(1);
    for (uint8_t &byte : hex.image)
        byte = static_cast<uint8_t>(generator());
    hex.imageLength = kImageBytes;

    const Clock::time_point start = Clock::now();
    std::unique_ptr<ModbusTcpLink> tcp = ModbusTcpLink::connect(kAddress, coupler.modbusPort());
    if (!tcp) {
        std::fprintf(stderr, "cannot connect to %s:%d\n", kAddress, coupler.modbusPort());
        return 1;
    }
    CountingLink link(*tcp);
    UpdateProgress unshown;
    CancelFlag never;
    ModuleUpdateEngine engine({link, kModule, kModule, true}, {unshown, never, FixedWaits().blocking(), nullptr});
    const UpdateResult result = engine.run(hex);
    tcp.reset();
    const bool equal = result.kind == UpdateResult::Kind::Verified;
    const double total = secondsSince(start);

    const double pauses = (ModuleTransport::kSelectPauseMs + ModuleTransport::kSelectSettleMs
                           + ModuleBootLoader::kStartPauseMs) / 1000.0;
    const long exchanges = link.replyWaits;
    const long oneWay = link.requests - link.replyWaits;
    const double roundTrip = loopbackRoundTripSeconds();
    const double floor = pauses + exchanges * roundTrip;
    std::printf("module update, 1 MiB image, large-flash module on %s:%d\n", kAddress, coupler.modbusPort());
    std::printf("  verified and started:        %s\n", equal && bank.startCount(kModule) == 1 ? "yes" : "NO");
    std::printf("  total:                       %.3f s\n", total);
    std::printf("  mandated pauses:             %.3f s (100 ms + 1 s select, 500 ms start)\n", pauses);
    std::printf("  exchanges with a reply:      %ld (plus %ld data packets without one)\n", exchanges, oneWay);
    std::printf("  time per exchange:           %.1f us ((total - pauses) / exchanges)\n",
                (total - pauses) / exchanges * 1e6);
    std::printf("  loopback round trip:         %.1f us (%d bytes, mean of %d)\n", roundTrip * 1e6,
                kRoundTripBytes, kRoundTripSamples);
    std::printf("  pauses + round trips:        %.3f s\n", floor);
    std::printf("  ratio total / that:          %.2f\n", total / floor);
    return equal ? 0 : 1;
}
