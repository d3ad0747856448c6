// One module updated with a 1 MiB image by the module page's engine (select, handshake, erase,
// blocks 1..1023 then block 0, read-back, start; advance mode, so no register checks), over a
// real libmodbus context against the simulated module answering at once on loopback, five times.
// Each round's total is set against the fixed pauses plus one loopback round trip per exchange,
// the round trip measured just before and after that round.
// On a virtual machine a wake-up on another processor costs about twice one on the same processor,
// and the scheduler places the two ends differently from run to run: left to it, the round trip
// was once measured with both ends on one processor and the update with them on two. So the
// bench places both ends itself, once on one processor and once on two, and the update and its
// round trips are measured in the same placement.
#include "core/fixed_waits.h"
#include "firmware/hex_image.h"
#include "modbus/modbus_tcp_link.h"
#include "module/module_update_engine.h"
#include "sim/module_bank.h"
#include "sim/simulated_coupler.h"

#include <QtGlobal>

#include <arpa/inet.h>
#include <pthread.h>
#include <sched.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *kAddress = "127.0.0.59";
constexpr int kImageBytes = 1024 * 1024;
constexpr int kModule = 1;
constexpr int kRoundTripSamples = 2000;
constexpr int kRoundTripBytes = 206;   // the largest read reply

// Where the client and the simulated device run: a thread started by the device's side takes
// its processor from the thread that started it.
struct Placement {
    const char *name;
    int clientCpu;
    int deviceCpu;
};

void runCurrentThreadOn(int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    ::pthread_setaffinity_np(::pthread_self(), sizeof set, &set);
}

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
double loopbackRoundTripSeconds(const Placement &placement)
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
    std::thread echo([listener, &placement] {
        runCurrentThreadOn(placement.deviceCpu);
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

struct Round {
    bool verified = false;
    double totalSeconds = 0;
    long exchanges = 0;
    long oneWay = 0;
    double roundTripSeconds = 0;   // the mean of the loopback round trips just before and after
    double ratio = 0;
};

constexpr int kRounds = 5;
// The update may take this much longer than its mandated pauses plus one round trip per exchange.
constexpr double kRatioGoal = 1.10;
constexpr double kPausesSeconds =
    (ModuleTransport::kSelectPauseMs + ModuleTransport::kSelectSettleMs + ModuleBootLoader::kStartPauseMs) / 1000.0;

Round updateOnce(const Placement &placement, SimulatedCoupler &coupler, ModuleBank &bank, const HexImage &hex)
{
    Round round;
    const double before = loopbackRoundTripSeconds(placement);
    const int startsBefore = bank.startCount(kModule);
    const Clock::time_point start = Clock::now();
    std::unique_ptr<ModbusTcpLink> tcp = ModbusTcpLink::connect(kAddress, coupler.modbusPort());
    if (!tcp)
        return round;
    CountingLink link(*tcp);
    UpdateProgress unshown;
    CancelFlag never;
    ModuleUpdateEngine engine({link, kModule, kModule, true}, {unshown, never, FixedWaits().blocking(), nullptr});
    const UpdateResult result = engine.run(hex);
    tcp.reset();
    round.totalSeconds = secondsSince(start);
    round.verified = result.kind == UpdateResult::Kind::Verified && bank.startCount(kModule) == startsBefore + 1;
    round.exchanges = link.replyWaits;
    round.oneWay = link.requests - link.replyWaits;
    round.roundTripSeconds = (before + loopbackRoundTripSeconds(placement)) / 2;
    round.ratio = round.totalSeconds / (kPausesSeconds + round.exchanges * round.roundTripSeconds);
    return round;
}

double medianOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <typename T>
T smallest(const std::vector<T> &values)
{
    return *std::min_element(values.begin(), values.end());
}

template <typename T>
T largest(const std::vector<T> &values)
{
    return *std::max_element(values.begin(), values.end());
}

// Five rounds in one placement; prints them and says whether each was verified and the goal met.
bool measureIn(const Placement &placement, const HexImage &hex)
{
    runCurrentThreadOn(placement.deviceCpu);
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
        return false;
    }
    runCurrentThreadOn(placement.clientCpu);

    bool allVerified = true;
    std::vector<double> totals, roundTrips, ratios;
    Round last;
    for (int i = 0; i < kRounds; ++i) {
        last = updateOnce(placement, coupler, bank, hex);
        allVerified = allVerified && last.verified;
        totals.push_back(last.totalSeconds);
        roundTrips.push_back(last.roundTripSeconds * 1e6);
        ratios.push_back(last.ratio);
    }
    const double ratio = medianOf(ratios);
    const bool goalMet = ratio <= kRatioGoal;
    std::printf("module update, 1 MiB image, large-flash module on %s:%d, %d rounds, %s\n", kAddress,
                coupler.modbusPort(), kRounds, placement.name);
    std::printf("  verified and started:        %s\n", allVerified ? "every round" : "NOT EVERY ROUND");
    std::printf("  total:                       median %.3f s (spread %.3f to %.3f)\n", medianOf(totals),
                smallest(totals), largest(totals));
    std::printf("  mandated pauses:             %.3f s (100 ms + 1 s select, 500 ms start)\n", kPausesSeconds);
    std::printf("  exchanges with a reply:      %ld (plus %ld data packets without one)\n", last.exchanges,
                last.oneWay);
    std::printf("  time per exchange:           %.1f us ((median total - pauses) / exchanges)\n",
                (medianOf(totals) - kPausesSeconds) / double(last.exchanges) * 1e6);
    std::printf("  loopback round trip:         median %.1f us (spread %.1f to %.1f; %d bytes, each the mean of "
                "%d before and after its round)\n",
                medianOf(roundTrips), smallest(roundTrips), largest(roundTrips), kRoundTripBytes,
                2 * kRoundTripSamples);
    std::printf("  total / (pauses + round trips): median %.2f (spread %.2f to %.2f; goal at most %.2f: %s)\n", ratio,
                smallest(ratios), largest(ratios), kRatioGoal, goalMet ? "met" : "NOT MET");
    return allVerified && goalMet;
}

}

int main()
{
    HexImage hex(HexPageProfile::module());
    std::mt19937 generator(1);
    for (uint8_t &byte : hex.image)
        byte = static_cast<uint8_t>(generator());
    hex.imageLength = kImageBytes;

    std::vector<Placement> placements = {{"client and device on processor 0", 0, 0}};
    cpu_set_t usable;
    if (::sched_getaffinity(0, sizeof usable, &usable) == 0 && CPU_ISSET(0, &usable) && CPU_ISSET(1, &usable))
        placements.push_back({"client on processor 0, device on processor 1", 0, 1});
    bool allMet = true;
    for (const Placement &placement : placements)
        allMet = measureIn(placement, hex) && allMet;
    return allMet ? 0 : 1;
}
