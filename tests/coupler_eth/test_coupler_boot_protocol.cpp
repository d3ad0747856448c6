// The boot loader's datagrams byte for byte, the reply checks, the UDP exchange on a real socket
// against a peer the test plays itself, and the engine's ends no page can reach.
#include "core/update_environment.h"
#include "coupler_eth/coupler_boot_protocol.h"
#include "coupler_eth/coupler_udp_link.h"
#include "coupler_eth/coupler_update_engine.h"
#include "platform/datagram_socket.h"
#include "tests/support/free_port.h"
#include "tests/support/test_main.h"

#include <QElapsedTimer>
#include <QUdpSocket>

using namespace CouplerBoot;
using Command = CouplerBootCommand;

namespace {

constexpr uint16_t kPort = 23456;   // 0x5BA0

Bytes signatureAnd(std::initializer_list<uint8_t> rest)
{
    Bytes bytes(rest);
    bytes.insert(bytes.begin(), kSignature, kSignature + kSignatureBytes);
    return bytes;
}

// The PC's side, a socket bound as the page binds it and used through its descriptor by the
// link, and a UDP peer on 127.0.0.x that answers or stays silent as the test says.
struct Exchange {
    explicit Exchange(const char *address)
    {
        QVERIFY(pc.bind(QHostAddress(QHostAddress::AnyIPv4), 0));
        DatagramSocket::disableBroadcast(int(pc.socketDescriptor()));
        QVERIFY(coupler.bind(QHostAddress(address), 0));
        const uint32_t peer = htonl(coupler.localAddress().toIPv4Address());
        link.emplace(int(pc.socketDescriptor()), DatagramSocket::socketAddress(peer, coupler.localPort()),
                     pc.localPort());
    }
    QUdpSocket pc;
    QUdpSocket coupler;
    std::optional<CouplerUdpLink> link;
};

// A run stopped before it began, towards a boot loader that never answers.
struct StoppedRun : CouplerBootLink, UpdateProgress, CancelToken {
    uint16_t listenPort() const override { return kPort; }
    void send(Command, const Bytes &request) override { sent.push_back(request); }
    int receiveReply(uint8_t *) override { return -1; }
    std::string peerText() const override { return "silent coupler"; }
    int replyWindowMs() const override { return 150; }
    bool requested() override { return true; }
    std::vector<Bytes> sent;
};

}

class TestCouplerBootProtocol : public QObject
{
    Q_OBJECT

private slots:
    void requestsCarrySignatureCommandAndListenPort()
    {
        QCOMPARE(encodeRequest(Command::EnterBootMode, kPort), signatureAnd({0xAA, 0x5B, 0xA0}));
        QCOMPARE(encodeRequest(Command::ConfirmBootMode, kPort), signatureAnd({0x00, 0x5B, 0xA0}));
        QCOMPARE(encodeRequest(Command::WriteChecksumStep1, kPort), signatureAnd({0x06, 0x5B, 0xA0}));
        QCOMPARE(encodeRequest(Command::RunUserMode, kPort), signatureAnd({0x04, 0x5B, 0xA0}));
        QCOMPARE(encodeReadRequest(kPort, 256), signatureAnd({0x01, 0x5B, 0xA0, 0x01, 0x00}));
        QCOMPARE(encodeChecksumStep2(0, {0xDE, 0xAD, 0xBE, 0xEF}),
                 signatureAnd({0x05, 0x00, 0x00, 0xDE, 0xAD, 0xBE, 0xEF}));
    }

    void confirmReplyNeedsEightBytesSignatureAndAFlag()
    {
        const Bytes inBoot = signatureAnd({0x00, 0x01});
        QCOMPARE(parseConfirmReply(inBoot.data(), 8), std::optional<bool>(true));
        QCOMPARE(parseConfirmReply(signatureAnd({0x77, 0x00}).data(), 8), std::optional<bool>(false));   // byte 6 free
        QVERIFY(!parseConfirmReply(signatureAnd({0x00, 0x02}).data(), 8));
        QVERIFY(!parseConfirmReply(Bytes{'V', 'q', '-', 'C', 'P', 'l', 0x00, 0x01}.data(), 8));
        QVERIFY(!parseConfirmReply(inBoot.data(), 7));
        QVERIFY(!parseConfirmReply(inBoot.data(), -1));
    }

    void pageRepliesMustEchoCommandAndPage()
    {
        const Bytes echo = signatureAnd({0x02, 0x5B, 0xA0, 0x01, 0x00});
        QVERIFY(isPageReply(Command::WriteData, 256, echo.data(), 11));
        QVERIFY(!isPageReply(Command::WriteData, 257, echo.data(), 11));
        QVERIFY(!isPageReply(Command::ReadData, 256, echo.data(), 11));
        QVERIFY(!isPageReply(Command::WriteData, 256, echo.data(), 10));
        Bytes read = signatureAnd({0x01, 0x00, 0x00, 0x01, 0x05});
        read.resize(268, 0x33);
        QVERIFY(isPageReply(Command::ReadData, 261, read.data(), 267));
        QVERIFY(!isPageReply(Command::ReadData, 261, read.data(), 266));
        QVERIFY(!isPageReply(Command::ReadData, 261, read.data(), 268));
    }

    void checksumStepsPassTheDeviceBytesBackUnchanged()
    {
        const Bytes step1 = {1, 2, 3, 4, 5, 6, 7, 0xC0, 0xFF, 0xEE, 0x00};   // any content
        const std::optional<Checksum> checksum = parseChecksumStep1Reply(step1.data(), 11);
        QVERIFY(checksum);
        QCOMPARE(*checksum, (Checksum{0xC0, 0xFF, 0xEE, 0x00}));
        QVERIFY(!parseChecksumStep1Reply(step1.data(), 10));
        QVERIFY(isChecksumStep2Reply(*checksum, step1.data(), 11));
        Bytes other = step1;
        other[10] = 1;
        QVERIFY(!isChecksumStep2Reply(*checksum, other.data(), 11));
        QVERIFY(!isChecksumStep2Reply(*checksum, step1.data(), -1));
    }

    void replyThatIsAlreadyThereIsTakenAtOnce()
    {
        Exchange exchange("127.0.0.91");
        exchange.link->send(Command::ConfirmBootMode, encodeRequest(Command::ConfirmBootMode, exchange.pc.localPort()));
        exchange.coupler.writeDatagram("Vq-CPL\x00\x01", 8, QHostAddress::LocalHost, exchange.pc.localPort());
        QElapsedTimer clock;
        clock.start();
        uint8_t reply[kReceiveCapacity];
        QCOMPARE(exchange.link->receiveReply(reply), 8);
        QVERIFY(clock.elapsed() < 100);
    }

    // A datagram that arrived after its wait had ended is not taken for the next reply.
    void staleDatagramsAreDroppedBeforeARequest()
    {
        Exchange exchange("127.0.0.94");
        exchange.coupler.writeDatagram("late", 4, QHostAddress::LocalHost, exchange.pc.localPort());
        QTest::qWait(20);
        exchange.link->send(Command::ConfirmBootMode, encodeRequest(Command::ConfirmBootMode, exchange.pc.localPort()));
        uint8_t reply[kReceiveCapacity];
        QCOMPARE(exchange.link->receiveReply(reply), -1);
    }

    void largeDatagramIsCutAtTheReceiveLimit()
    {
        Exchange exchange("127.0.0.95");
        exchange.coupler.writeDatagram(QByteArray(2000, 'x'), QHostAddress::LocalHost, exchange.pc.localPort());
        uint8_t reply[kReceiveCapacity + 16];
        std::fill(std::begin(reply), std::end(reply), 0xEE);
        QCOMPARE(exchange.link->receiveReply(reply), kReceiveCapacity);
        QCOMPARE(reply[kReceiveCapacity], uint8_t(0xEE));
    }

    // A stop asked for during the register checks or the wait: nothing reaches the boot loader.
    // (No Modbus server answers there, so the checks pass as for a coupler in its boot loader.)
    void stopBeforeTheRunSendsNothing()
    {
        HexImage hex(HexPageProfile::coupler());
        hex.imageLength = 1000;
        StoppedRun run;
        CouplerUpdateEngine engine(run, {run, run, FixedWaits(1000).blocking(), nullptr}, FreePort::tcp("127.0.0.1"));
        std::vector<uint8_t> readBack(hex.image.size());
        const UpdateResult result = engine.update(hex, "127.0.0.1", readBack);
        QCOMPARE(int(result.kind), int(UpdateResult::Kind::Aborted));
        QCOMPARE(int(result.deviceAfter), int(UpdateResult::DeviceAfter::Untouched));
        QVERIFY(run.sent.empty());
    }
};

TARNLOW_TEST_MAIN(TestCouplerBootProtocol)
#include "test_coupler_boot_protocol.moc"
