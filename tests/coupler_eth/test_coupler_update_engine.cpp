// The update engine against a scripted boot loader, without sockets or widgets: each test lists
// the replies the coupler gives and checks the requests the engine made and how the run ended.
#include "core/update_environment.h"
#include "coupler_eth/coupler_boot_exceptions.h"
#include "coupler_eth/coupler_boot_link.h"
#include "coupler_eth/coupler_update_engine.h"
#include "tests/support/test_main.h"

#include <cerrno>
#include <deque>
#include <map>

using namespace CouplerBoot;
using Outcome = CouplerRunResult::Outcome;

namespace {

constexpr uint16_t kPort = 0x1234;

Bytes withSignature(std::initializer_list<uint8_t> rest)
{
    Bytes bytes(rest);
    bytes.insert(bytes.begin(), kSignature, kSignature + kSignatureBytes);
    return bytes;
}

Bytes confirmReply(uint8_t flag)
{
    return withSignature({0x00, flag});
}

Bytes pageEcho(CouplerBootCommand command, uint16_t page)
{
    return withSignature({uint8_t(command), kPort >> 8, kPort & 0xFF, uint8_t(page >> 8), uint8_t(page)});
}

Bytes readReply(uint16_t page, const uint8_t *flash)
{
    Bytes reply = pageEcho(CouplerBootCommand::ReadData, page);
    reply.insert(reply.end(), flash, flash + kPageBytes);
    return reply;
}

// A boot loader that answers from a script; a missing entry is silence.
class ScriptedLink : public CouplerBootLink
{
public:
    uint16_t listenPort() const override { return kPort; }
    void send(CouplerBootCommand command, const Bytes &request) override
    {
        sent.push_back(request);
        if (command == failingCommand && ++sendsOf[command] == failingSend) {
            errno = EHOSTUNREACH;
            throw SendFailedException(commandName(command), -1);
        }
    }
    int receiveReply(uint8_t *buffer) override
    {
        if (replies.empty())
            return -1;
        const Bytes reply = replies.front();
        replies.pop_front();
        std::copy(reply.begin(), reply.end(), buffer);
        return int(reply.size());
    }
    std::string peerText() const override { return "scripted coupler"; }
    int replyWindowMs() const override { return 150; }

    std::deque<Bytes> replies;
    std::vector<Bytes> sent;
    // The n-th send of this command fails as a socket with no route does.
    CouplerBootCommand failingCommand = CouplerBootCommand::EnterBootMode;
    int failingSend = 0;
    std::map<CouplerBootCommand, int> sendsOf;
};

class Observer : public CouplerUpdateObserver
{
public:
    void setLabelText(const QString &text) override { labels << text; }
    void setValue(int value) override
    {
        values.push_back(value);
        canceled = canceled || (cancelAtValue >= 0 && value >= cancelAtValue);
    }
    bool wasCanceled() override { return canceled; }

    QStringList labels;
    std::vector<int> values;
    int cancelAtValue = -1;
    bool canceled = false;
};

// The replies of a coupler that takes every page of `image` and reads it back unchanged.
std::deque<Bytes> healthyCoupler(const std::vector<uint8_t> &image, int imageLength, const Checksum &checksum)
{
    std::deque<Bytes> replies = {confirmReply(1)};
    for (int page = 0; page < pageCount(imageLength); ++page)
        replies.push_back(pageEcho(CouplerBootCommand::WriteData, uint16_t(256 + page)));
    replies.push_back(withSignature({0x06, checksum[0], checksum[1], checksum[2], checksum[3]}));
    replies.push_back(withSignature({0x05, checksum[0], checksum[1], checksum[2], checksum[3]}));
    for (int page = 0; page < pageCount(imageLength); ++page)
        replies.push_back(readReply(uint16_t(256 + page), image.data() + page * kPageBytes));
    replies.push_back(confirmReply(0));
    return replies;
}

// One run of the engine on `image` against the scripted link; the flash read back goes to
// `readBack` when given.
CouplerRunResult runEngine(ScriptedLink &link, Observer &observer, const std::vector<uint8_t> &image,
                           int imageLength, std::vector<uint8_t> *readBack = nullptr)
{
    std::vector<uint8_t> ownReadBack(image.size(), 0);
    CouplerUpdateEngine engine(link, observer, FixedWaits(1000).blocking(), UpdateEnvironment::kStandardModbusPort);
    return engine.run(image, imageLength, readBack ? *readBack : ownReadBack);
}

std::vector<uint8_t> imageOf(int length)
{
    std::vector<uint8_t> image(4096, 0xFF);
    for (int i = 0; i < length; ++i)
        image[size_t(i)] = uint8_t(i * 31 + 7);
    return image;
}

}

class TestCouplerUpdateEngine : public QObject
{
    Q_OBJECT

private slots:
    void verifiedRunMakesEveryRequestInOrder()
    {
        const std::vector<uint8_t> image = imageOf(300);
        const Checksum checksum = {0x12, 0x00, 0xFE, 0x7F};
        ScriptedLink link;
        link.replies = healthyCoupler(image, 300, checksum);
        Observer observer;
        std::vector<uint8_t> readBack(4096, 0);
        const CouplerRunResult result = runEngine(link, observer, image, 300, &readBack);

        QCOMPARE(int(result.outcome), int(Outcome::Verified));
        QCOMPARE(link.sent.size(), size_t(10));
        QCOMPARE(link.sent[0], encodeRequest(CouplerBootCommand::EnterBootMode, kPort));
        QCOMPARE(link.sent[1], encodeRequest(CouplerBootCommand::ConfirmBootMode, kPort));
        QCOMPARE(link.sent[2], encodeWriteRequest(kPort, 256, image.data()));
        QCOMPARE(link.sent[3], encodeWriteRequest(kPort, 257, image.data() + 256));
        QCOMPARE(link.sent[4], encodeRequest(CouplerBootCommand::WriteChecksumStep1, kPort));
        // Step 2 carries the four bytes of the Step 1 reply unchanged.
        QCOMPARE(link.sent[5], withSignature({0x05, 0x12, 0x34, 0x12, 0x00, 0xFE, 0x7F}));
        QCOMPARE(link.sent[6], encodeReadRequest(kPort, 256));
        QCOMPARE(link.sent[7], encodeReadRequest(kPort, 257));
        QCOMPARE(link.sent[8], encodeRequest(CouplerBootCommand::RunUserMode, kPort));
        QCOMPARE(link.sent[9], encodeRequest(CouplerBootCommand::ConfirmBootMode, kPort));
        QCOMPARE(observer.values, (std::vector<int>{0, 256, 512, 768}));
        QCOMPARE(observer.labels, (QStringList{"Reading Flash for comparing...", "Comparing Data..."}));
        QVERIFY(std::equal(image.begin(), image.begin() + 512, readBack.begin()));
    }

    void sendFailuresAfterTheVerifiedWriteAreNoSuccess_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("nth");
        QTest::addColumn<QString>("text");
        QTest::newRow("RUN USER MODE") << int(CouplerBootCommand::RunUserMode) << 1
                                       << "function:RUN USER MODE,bytes_seneded=-1,error=113";
        QTest::newRow("its confirmation") << int(CouplerBootCommand::ConfirmBootMode) << 2
                                          << "function:CONFIRM BOOT MODE,bytes_seneded=-1,error=113";
    }

    void sendFailuresAfterTheVerifiedWriteAreNoSuccess()
    {
        QFETCH(int, command);
        QFETCH(int, nth);
        QFETCH(QString, text);
        const std::vector<uint8_t> image = imageOf(200);
        ScriptedLink link;
        link.replies = healthyCoupler(image, 200, {9, 9, 9, 9});
        link.failingCommand = CouplerBootCommand(command);
        link.failingSend = nth;
        Observer observer;
        const CouplerRunResult result = runEngine(link, observer, image, 200);
        QCOMPARE(int(result.outcome), int(Outcome::SendFailed));
        QCOMPARE(QString::fromStdString(result.text), text);
        QCOMPARE(QString::fromStdString(result.detail), QString("No route to host"));
    }

    // A stop asked for during the register checks or the wait: nothing reaches the boot loader.
    // (No Modbus server answers on 127.0.0.1, so the checks pass as for a coupler in its boot loader.)
    void stopBeforeTheRunSendsNothing()
    {
        HexImage hex(HexPageProfile::coupler());
        hex.imageLength = 1000;
        ScriptedLink link;
        Observer observer;
        observer.canceled = true;
        CouplerUpdateEngine engine(link, observer, FixedWaits(1000).blocking(), UpdateEnvironment::kStandardModbusPort);
        std::vector<uint8_t> readBack(hex.image.size());
        QCOMPARE(engine.update(hex, "127.0.0.1", readBack).kind, UpdateOutcome::Kind::Aborted);
        QVERIFY(link.sent.empty());
    }

    // Only the image's own bytes are compared, not the 0xFF fill of its last page.
    void fillBeyondTheImageIsNotCompared()
    {
        const std::vector<uint8_t> image = imageOf(300);
        std::vector<uint8_t> flash = image;
        flash[400] = 0x00;
        ScriptedLink link;
        link.replies = healthyCoupler(flash, 300, {0, 0, 0, 0});
        Observer observer;
        QCOMPARE(int(runEngine(link, observer, image, 300).outcome), int(Outcome::Verified));
    }

};

TARNLOW_TEST_MAIN(TestCouplerUpdateEngine)
#include "test_coupler_update_engine.moc"
