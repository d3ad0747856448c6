// A full 1 MiB update from the Ethernet coupler page against the simulated coupler answering at
// once on loopback, with the real waits (1.5 s before the run, 5 s after ENTER BOOT MODE and
// after RUN USER MODE). Prints the total, the waits, the time per exchange beyond them, and the
// total against the waits plus one loopback UDP round trip per exchange, measured in this run.
#include "tests/coupler_eth/coupler_page_bench.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/test_main.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *kAddress = "127.0.0.58";
constexpr uint16_t kListenPort = 23491;
constexpr int kImageBytes = 1024 * 1024;
constexpr double kMandatedWaitsS = 1.5 + 5.0 + 5.0;
constexpr double kGoalRestS = 1.0;
constexpr int kRoundTripSamples = 4000;
constexpr int kRequestBytes = 267;   // a WRITE DATA request or a READ DATA reply
constexpr int kReplyBytes = 11;

void dropDebugLines(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

int udpSocketOn(const char *address, uint16_t port, sockaddr_in &bound)
{
    const int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    bound = {};
    bound.sin_family = AF_INET;
    bound.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &bound.sin_addr);
    ::bind(socket, reinterpret_cast<sockaddr *>(&bound), sizeof bound);
    socklen_t length = sizeof bound;
    ::getsockname(socket, reinterpret_cast<sockaddr *>(&bound), &length);
    return socket;
}

// Mean time of a 267-byte datagram out and an 11-byte one back between two threads on
// loopback: what one page exchange costs when both ends answer at once.
double loopbackRoundTripSeconds()
{
    sockaddr_in echoAddress{};
    sockaddr_in clientAddress{};
    const int echo = udpSocketOn(kAddress, 0, echoAddress);
    const int client = udpSocketOn("127.0.0.1", 0, clientAddress);
    std::thread echoing([echo] {
        uint8_t buffer[512];
        for (int i = 0; i < kRoundTripSamples; ++i) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            if (::recvfrom(echo, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &fromLength) < 0)
                return;
            ::sendto(echo, buffer, kReplyBytes, 0, reinterpret_cast<sockaddr *>(&from), fromLength);
        }
    });
    uint8_t buffer[512] = {};
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kRoundTripSamples; ++i) {
        ::sendto(client, buffer, kRequestBytes, 0, reinterpret_cast<sockaddr *>(&echoAddress), sizeof echoAddress);
        ::recv(client, buffer, sizeof buffer, 0);
    }
    const double perRoundTrip = std::chrono::duration<double>(Clock::now() - start).count() / kRoundTripSamples;
    echoing.join();
    ::close(echo);
    ::close(client);
    return perRoundTrip;
}

int run()
{
    qInstallMessageHandler(dropDebugLines);
    const CouplerTest::Bytes image = CouplerTest::randomImage(kImageBytes, 7);
    CouplerTest::writeFirmware("ETN_1MiB", image);

    CouplerTest::PageBench bench(CouplerTest::couplerAt(kAddress), kListenPort, 1);
    if (!bench.start())
        return 1;
    bench.choose("ETN_1MiB");
    MessageBoxRecorder recorder;
    QElapsedTimer clock;
    clock.start();
    bench.clickUpdate();
    const double total = clock.nsecsElapsed() / 1e9;

    const bool verified = recorder.count() == 1 && recorder.last().title == "Burning Firmware Successful"
        && bench.flashHolds(image) && bench.coupler.bootLoader().startCount() == 1;
    const size_t pageExchanges = bench.requestsOf(CouplerCommand::WriteData).size()
        + bench.requestsOf(CouplerCommand::ReadData).size();
    const size_t exchanges = pageExchanges + 4;   // two confirmations, two checksum steps
    const double roundTrip = loopbackRoundTripSeconds();
    const double rest = total - kMandatedWaitsS;
    const double floor = kMandatedWaitsS + exchanges * roundTrip;

    std::printf("Ethernet coupler update, 1 MiB image, simulated coupler on %s\n", kAddress);
    std::printf("  verified and started:        %s\n", verified ? "yes" : "NO");
    std::printf("  total:                       %.3f s\n", total);
    std::printf("  mandated waits:              %.3f s (1.5 s + 5 s + 5 s)\n", kMandatedWaitsS);
    std::printf("  rest:                        %.3f s (goal under %.1f s)\n", rest, kGoalRestS);
    std::printf("  exchanges with a reply:      %zu (%zu page writes and reads)\n", exchanges, pageExchanges);
    std::printf("  rest per exchange:           %.1f us\n", rest / double(exchanges) * 1e6);
    std::printf("  loopback round trip:         %.1f us (%d bytes out, %d back, mean of %d)\n", roundTrip * 1e6,
                kRequestBytes, kReplyBytes, kRoundTripSamples);
    std::printf("  waits + round trips:         %.3f s\n", floor);
    std::printf("  ratio total / that:          %.3f\n", total / floor);
    return verified && rest < kGoalRestS ? 0 : 1;
}

}

TARNLOW_BENCH_MAIN(run)
