// The boot loader's datagrams byte for byte, the reply checks, the exception texts, and the UDP
// exchange on a real socket against a peer the test plays itself.
#include "coupler_eth/coupler_boot_exceptions.h"
#include "coupler_eth/coupler_boot_protocol.h"
#include "coupler_eth/coupler_udp_link.h"
#include "platform/datagram_socket.h"
#include "tests/support/test_main.h"

#include <QElapsedTimer>
#include <QUdpSocket>

#include <cerrno>

using namespace CouplerBoot;

namespace {

constexpr uint16_t kPort = 23456;   // 0x5BA0

Bytes signatureAnd(std::initializer_list<uint8_t> rest)
{
    Bytes bytes(rest);
    const char signature[] = "Vq-CPL";
    bytes.insert(bytes.begin(), signature, signature + 6);
    return bytes;
}

// A UDP peer on 127.0.0.x for the link: answers or stays silent as the test says.
struct Peer {
    explicit Peer(const char *address, uint16_t port = 0)
    {
        QVERIFY(socket.bind(QHostAddress(address), port));
    }
    sockaddr_in address() const
    {
        return DatagramSocket::socketAddress(htonl(socket.localAddress().toIPv4Address()), socket.localPort());
    }
    QUdpSocket socket;
};

// The PC's side: a socket bound like the page's, its descriptor used directly.
struct PcSocket {
    PcSocket()
    {
        QVERIFY(socket.bind(QHostAddress(QHostAddress::AnyIPv4), quint16(0)));
        DatagramSocket::disableBroadcast(descriptor());
    }
    int descriptor() { return int(socket.socketDescriptor()); }
    uint16_t port() const { return socket.localPort(); }
    sockaddr_in loopbackAddress() const
    {
        return DatagramSocket::socketAddress(htonl(0x7F000001), port());
    }
    QUdpSocket socket;
};

}

class TestCouplerBootProtocol : public QObject
{
    Q_OBJECT

private slots:
    void requestsCarrySignatureCommandAndListenPort()
    {
        QCOMPARE(encodeRequest(CouplerBootCommand::EnterBootMode, kPort), signatureAnd({0xAA, 0x5B, 0xA0}));
        QCOMPARE(encodeRequest(CouplerBootCommand::ConfirmBootMode, kPort), signatureAnd({0x00, 0x5B, 0xA0}));
        QCOMPARE(encodeRequest(CouplerBootCommand::WriteChecksumStep1, kPort), signatureAnd({0x06, 0x5B, 0xA0}));
        QCOMPARE(encodeRequest(CouplerBootCommand::RunUserMode, kPort), signatureAnd({0x04, 0x5B, 0xA0}));
        QCOMPARE(encodeReadRequest(kPort, 256), signatureAnd({0x01, 0x5B, 0xA0, 0x01, 0x00}));
        QCOMPARE(encodeChecksumStep2(0, {0xDE, 0xAD, 0xBE, 0xEF}),
                 signatureAnd({0x05, 0x00, 0x00, 0xDE, 0xAD, 0xBE, 0xEF}));
        for (auto command : {CouplerBootCommand::EnterBootMode, CouplerBootCommand::ConfirmBootMode,
                             CouplerBootCommand::WriteChecksumStep1, CouplerBootCommand::RunUserMode})
            QCOMPARE(requestLength(command), 9);
        QCOMPARE(requestLength(CouplerBootCommand::ReadData), 11);
        QCOMPARE(requestLength(CouplerBootCommand::WriteData), 267);
        QCOMPARE(requestLength(CouplerBootCommand::WriteChecksumStep2), 13);
    }

    void confirmReplyNeedsEightBytesSignatureAndAFlag()
    {
        const Bytes inBoot = signatureAnd({0x00, 0x01});
        const Bytes notInBoot = signatureAnd({0x77, 0x00});   // byte 6 is not checked
        QCOMPARE(parseConfirmReply(inBoot.data(), 8), std::optional<bool>(true));
        QCOMPARE(parseConfirmReply(notInBoot.data(), 8), std::optional<bool>(false));
        const Bytes flagTwo = signatureAnd({0x00, 0x02});
        QVERIFY(!parseConfirmReply(flagTwo.data(), 8));
        Bytes badSignature = inBoot;
        badSignature[5] = 'l';
        QVERIFY(!parseConfirmReply(badSignature.data(), 8));
        QVERIFY(!parseConfirmReply(inBoot.data(), 7));
        QVERIFY(!parseConfirmReply(inBoot.data(), -1));
    }

    void pageRepliesMustEchoCommandAndPage()
    {
        const Bytes echo = signatureAnd({0x02, 0x5B, 0xA0, 0x01, 0x00});
        QVERIFY(isPageReply(CouplerBootCommand::WriteData, 256, echo.data(), 11));
        QVERIFY(!isPageReply(CouplerBootCommand::WriteData, 257, echo.data(), 11));
        QVERIFY(!isPageReply(CouplerBootCommand::ReadData, 256, echo.data(), 11));
        QVERIFY(!isPageReply(CouplerBootCommand::WriteData, 256, echo.data(), 10));
        Bytes read = signatureAnd({0x01, 0x00, 0x00, 0x01, 0x05});
        read.resize(268, 0x33);
        QVERIFY(isPageReply(CouplerBootCommand::ReadData, 261, read.data(), 267));
        QVERIFY(!isPageReply(CouplerBootCommand::ReadData, 261, read.data(), 266));
        QVERIFY(!isPageReply(CouplerBootCommand::ReadData, 261, read.data(), 268));
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
        PcSocket pc;
        Peer coupler("127.0.0.91");
        CouplerUdpLink link(pc.descriptor(), coupler.address(), pc.port());
        link.send(CouplerBootCommand::ConfirmBootMode, encodeRequest(CouplerBootCommand::ConfirmBootMode, pc.port()));
        QVERIFY(coupler.socket.waitForReadyRead(1000));
        QHostAddress from;
        quint16 fromPort = 0;
        QByteArray request(64, 0);
        request.resize(int(coupler.socket.readDatagram(request.data(), request.size(), &from, &fromPort)));
        QCOMPARE(request.size(), 9);
        QCOMPARE(fromPort, pc.port());
        coupler.socket.writeDatagram("Vq-CPL\x00\x01", 8, from, fromPort);
        QElapsedTimer clock;
        clock.start();
        uint8_t reply[kReceiveCapacity];
        QCOMPARE(link.receiveReply(reply), 8);
        QVERIFY(clock.elapsed() < 100);
    }

    void silenceGivesUpAfterSixteenAttempts()
    {
        PcSocket pc;
        Peer coupler("127.0.0.92");
        CouplerUdpLink link(pc.descriptor(), coupler.address(), pc.port());
        QElapsedTimer clock;
        clock.start();
        uint8_t reply[kReceiveCapacity];
        QCOMPARE(link.receiveReply(reply), -1);
        QVERIFY2(clock.elapsed() >= 150 && clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(link.replyWindowMs(), 150);
    }

    // A datagram that arrived after its wait had ended is not taken for the next reply.
    void staleDatagramsAreDroppedBeforeARequest()
    {
        PcSocket pc;
        Peer coupler("127.0.0.94");
        coupler.socket.writeDatagram("late", 4, QHostAddress::LocalHost, pc.port());
        QTest::qWait(20);
        CouplerUdpLink link(pc.descriptor(), coupler.address(), pc.port());
        link.send(CouplerBootCommand::ConfirmBootMode, encodeRequest(CouplerBootCommand::ConfirmBootMode, pc.port()));
        uint8_t reply[kReceiveCapacity];
        QCOMPARE(link.receiveReply(reply), -1);
    }

    void largeDatagramIsCutAtTheReceiveLimit()
    {
        PcSocket pc;
        Peer coupler("127.0.0.95");
        CouplerUdpLink link(pc.descriptor(), coupler.address(), pc.port());
        coupler.socket.writeDatagram(QByteArray(2000, 'x'), QHostAddress::LocalHost, pc.port());
        uint8_t reply[kReceiveCapacity + 16];
        std::fill(std::begin(reply), std::end(reply), 0xEE);
        QCOMPARE(link.receiveReply(reply), kReceiveCapacity);
        QCOMPARE(reply[kReceiveCapacity], uint8_t(0xEE));
    }

};

TARNLOW_TEST_MAIN(TestCouplerBootProtocol)
#include "test_coupler_boot_protocol.moc"
