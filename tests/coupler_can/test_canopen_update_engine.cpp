// The CANopen update engine without a window or a port: each test scripts the coupler's side of
// the conversation record by record (what the updater must send, what the coupler answers) and
// looks at the outcome the run ends in and what it reported on the way.
#include "core/fixed_waits.h"
#include "coupler_can/canopen_update_engine.h"
#include "core/byte_order.h"
#include "tests/coupler_can/scripted_canopen_link.h"
#include "tests/support/test_main.h"

#include <QCoreApplication>

#include <vector>

namespace {

using Outcome = CanopenRunResult::Outcome;
using Icon = UpdateOutcome::Icon;

constexpr int nodeId = 5;
constexpr uint32_t bootKey = 0x4C1D93E7;
constexpr uint32_t writeStartKey = 0x9B27E05A;
constexpr uint32_t bootSignature = 0x626F6F74;
constexpr uint32_t userSignature = 0x6E6F726D;

QByteArray hex(const char *bytes)
{
    return QByteArray::fromHex(bytes);
}

// An 11-byte pass-through record to (0x600) or from (0x580) node 5.
QByteArray record(uint16_t identifierBase, uint8_t command, uint16_t index, uint8_t subIndex,
                  uint32_t value)
{
    uint8_t bytes[11] = {0, 0, 8, command, 0, 0, subIndex};
    putLe16(bytes, static_cast<uint16_t>(identifierBase + nodeId));
    putLe16(bytes + 4, index);
    putLe32(bytes + 7, value);
    return QByteArray(reinterpret_cast<const char *>(bytes), sizeof bytes);
}

// `length` bytes of a pattern, then the 0xFF filling up to the end of the last page.
std::vector<uint8_t> imageOf(int length)
{
    std::vector<uint8_t> image((length + 255) / 256 * 256, 0xFF);
    for (int i = 0; i < length; ++i)
        image[i] = static_cast<uint8_t>(i * 7 + i / 256);
    return image;
}

uint32_t wordAt(const std::vector<uint8_t> &bytes, int page, int n)
{
    return le32(&bytes[page * 256 + 4 * n]);
}

// The coupler's side, scripted in the order of the exchanges.
struct Coupler {
    ScriptedCanopenLink link;

    void exchange(const QByteArray &request, const QByteArray &reply)
    {
        link.expectRequest(request);
        link.giveReply(reply);
    }
    void download(uint16_t index, uint8_t subIndex, uint32_t value)
    {
        exchange(record(0x600, 0x23, index, subIndex, value), record(0x580, 0x60, index, subIndex, 0));
    }
    void upload(uint16_t index, uint8_t subIndex, uint32_t value)
    {
        exchange(record(0x600, 0x40, index, subIndex, 0), record(0x580, 0x43, index, subIndex, value));
    }
    void signature(uint32_t value) { upload(0x5101, 0, value); }
    void unansweredCommand(uint8_t subIndex)
    {
        link.expectRequest(record(0x600, 0x23, 0x5100, subIndex, bootKey));
    }
    // The boot loader already runs; the writing starts.
    void bootLoaderRuns()
    {
        signature(bootSignature);
        download(0x5100, 8, writeStartKey);
    }
    void writePage(const std::vector<uint8_t> &image, int page)
    {
        for (int n = 0; n < 64; ++n)
            download(0x5102, static_cast<uint8_t>(n), wordAt(image, page, n));
        download(0x5100, 6, 0x8000 + 256 * page);
    }
    void readPage(const std::vector<uint8_t> &flash, int page)
    {
        download(0x5100, 7, 0x8000 + 256 * page);
        for (int n = 0; n < 64; ++n)
            upload(0x5102, static_cast<uint8_t>(n), wordAt(flash, page, n));
    }
    void writeAndRead(const std::vector<uint8_t> &image, const std::vector<uint8_t> &flash)
    {
        const int pages = static_cast<int>(image.size()) / 256;
        for (int page = 0; page < pages; ++page)
            writePage(image, page);
        for (int page = 0; page < pages; ++page)
            readPage(flash, page);
    }
    // Command 3, the start-up pause, the guard frame, the signature asked for.
    void userFirmwareStarts(uint32_t signatureAfter)
    {
        unansweredCommand(3);
        link.expectPause(5000);
        link.giveGuard();
        signature(signatureAfter);
    }
    void verifiedAndStarted()
    {
        download(0x5100, 4, bootKey);
        userFirmwareStarts(userSignature);
    }
};

struct RecordingObserver : CanopenUpdateObserver {
    QStringList labels;
    QList<QPair<int, int>> ranges;
    QList<int> values;
    QStringList debugLines;
    bool canceled = false;

    void setLabelText(const QString &text) override { labels << text; }
    void setRange(int minimum, int maximum) override { ranges << qMakePair(minimum, maximum); }
    void setValue(int value) override { values << value; }
    bool wasCanceled() override { return canceled; }
    void debugLine(const QString &line) override { debugLines << line; }
};

// Runs the engine against the script; empty when the run made exactly the scripted exchanges.
QString play(Coupler &coupler, RecordingObserver &observer, const std::vector<uint8_t> &image,
             int imageLength, CanopenRunResult &result, std::vector<uint8_t> &readBack)
{
    readBack.assign(image.size(), 0);
    CanopenUpdateEngine engine(coupler.link, nodeId, observer,
                               [&](int milliseconds) { coupler.link.pause(milliseconds); });
    try {
        result = engine.run(image, imageLength, readBack);
    } catch (const ScriptedCanopenLink::ScriptMismatch &) {
        return coupler.link.failure();
    }
    return coupler.link.finished() ? QString() : QString("the run ended before the script did");
}

QString play(Coupler &coupler, RecordingObserver &observer, const std::vector<uint8_t> &image,
             int imageLength, CanopenRunResult &result)
{
    std::vector<uint8_t> readBack;
    return play(coupler, observer, image, imageLength, result, readBack);
}

void verifyBox(const CanopenRunResult &result, Outcome outcome, Icon icon, const QString &title,
               const QString &text)
{
    QCOMPARE(int(result.outcome), int(outcome));
    QCOMPARE(int(result.box.icon), int(icon));
    QCOMPARE(result.box.title, title);
    QCOMPARE(result.box.text, text);
}

}

class TestCanopenUpdateEngine : public QObject
{
    Q_OBJECT

private slots:

    void updateMakesExactlyTheseExchanges()
    {
        const std::vector<uint8_t> image = imageOf(300);
        Coupler coupler;
        // The user firmware runs; it is switched to the boot loader.
        coupler.exchange(hex("05 06 08 40 01 51 00 00 00 00 00"), hex("85 05 08 43 01 51 00 6d 72 6f 6e"));
        coupler.link.expectRequest(hex("05 06 08 23 00 51 01 e7 93 1d 4c"));
        coupler.link.expectPause(500);
        coupler.exchange(hex("05 06 08 23 00 51 02 e7 93 1d 4c"), hex("85 05 08 60 00 51 02 00 00 00 00"));
        coupler.exchange(hex("05 06 08 40 01 51 00 00 00 00 00"), hex("85 05 08 43 01 51 00 74 6f 6f 62"));
        coupler.exchange(hex("05 06 08 23 00 51 08 5a e0 27 9b"), hex("85 05 08 60 00 51 08 00 00 00 00"));
        // The first word of the image, then the rest of both pages; the second page ends in 0xFF.
        coupler.exchange(hex("05 06 08 23 02 51 00 00 07 0e 15"), hex("85 05 08 60 02 51 00 00 00 00 00"));
        for (int n = 1; n < 64; ++n)
            coupler.download(0x5102, static_cast<uint8_t>(n), wordAt(image, 0, n));
        coupler.exchange(hex("05 06 08 23 00 51 06 00 80 00 00"), hex("85 05 08 60 00 51 06 00 00 00 00"));
        coupler.writePage(image, 1);
        coupler.readPage(image, 0);
        coupler.readPage(image, 1);
        coupler.exchange(hex("05 06 08 23 00 51 04 e7 93 1d 4c"), hex("85 05 08 60 00 51 04 00 00 00 00"));
        coupler.link.expectRequest(hex("05 06 08 23 00 51 03 e7 93 1d 4c"));
        coupler.link.expectPause(5000);
        coupler.link.giveGuard();
        coupler.exchange(hex("05 06 08 40 01 51 00 00 00 00 00"), hex("85 05 08 43 01 51 00 6d 72 6f 6e"));

        RecordingObserver observer;
        CanopenRunResult result;
        std::vector<uint8_t> readBack;
        QCOMPARE(play(coupler, observer, image, 300, result, readBack), QString());
        verifyBox(result, Outcome::Updated, Icon::Information, "Burning Firmware Successful",
                  "Firmware of remote IO has beed updated.");
        QVERIFY(readBack == image);
        QCOMPARE(observer.labels, QStringList({"Reading Flash for comparing...",
                                               "Enter user mode...(wait 5 second)"}));
        QCOMPARE(observer.ranges, (QList<QPair<int, int>>{{0, 1025}, {0, 1}}));
        QCOMPARE(observer.values, QList<int>({0, 256, 512, 768, 1}));
        QCOMPARE(observer.debugLines.filter("Check is boot mode").size(), 2);
        QVERIFY(observer.debugLines.contains("6d 72 6f 6e"));
        QVERIFY(observer.debugLines.contains("74 6f 6f 62"));
        QCOMPARE(observer.debugLines.filter(QRegularExpression("^Byte index (256|512) Cost time \\d+ microsecond$")).size(), 2);
        QCOMPARE(observer.debugLines.filter(QRegularExpression("^Write 512 Bytes, Cost time \\d+ microsecond$")).size(), 1);
        QCOMPARE(observer.debugLines.filter(QRegularExpression("^Read 512 Bytes, Cost time \\d+ microsecond$")).size(), 1);
    }

    void bootLoaderSignatureMissing_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("user firmware still runs") << hex("85 05 08 43 01 51 00 6d 72 6f 6e");
        QTest::newRow("SDO abort") << hex("85 05 08 80 01 51 00 00 00 02 06");
        QTest::newRow("boot word in the wrong order") << hex("85 05 08 43 01 51 00 62 6f 6f 74");
    }
    void bootLoaderSignatureMissing()
    {
        QFETCH(QByteArray, reply);
        Coupler coupler;
        coupler.signature(userSignature);
        coupler.unansweredCommand(1);
        coupler.link.expectPause(500);
        coupler.download(0x5100, 2, bootKey);
        coupler.exchange(record(0x600, 0x40, 0x5101, 0, 0), reply);
        RecordingObserver observer;
        CanopenRunResult result;
        // Nothing is written: the script ends with the signature.
        QCOMPARE(play(coupler, observer, imageOf(256), 256, result), QString());
        verifyBox(result, Outcome::BootModeFailed, Icon::Critical, QCoreApplication::applicationName(),
                  "Enter Boot Mode Failed");
        QVERIFY(observer.labels.isEmpty());
    }

    void replyMissingWhileWriting_data()
    {
        QTest::addColumn<int>("silentWord");
        QTest::addColumn<QString>("message");
        QTest::newRow("page word 3") << 3 << "Index: 5102, SubIndex:  3";
        QTest::newRow("page word 0x1a") << 0x1a << "Index: 5102, SubIndex: 1a";
        QTest::newRow("program command") << 64 << "Index: 5100, SubIndex:  6";
    }
    void replyMissingWhileWriting()
    {
        QFETCH(int, silentWord);
        QFETCH(QString, message);
        const std::vector<uint8_t> image = imageOf(512);
        Coupler coupler;
        coupler.bootLoaderRuns();
        for (int n = 0; n < silentWord; ++n)
            coupler.download(0x5102, static_cast<uint8_t>(n), wordAt(image, 0, n));
        coupler.link.expectRequest(silentWord < 64 ? record(0x600, 0x23, 0x5102, silentWord, wordAt(image, 0, silentWord))
                                                   : record(0x600, 0x23, 0x5100, 6, 0x8000));
        coupler.link.giveSilence();
        RecordingObserver observer;
        CanopenRunResult result;
        QCOMPARE(play(coupler, observer, image, 512, result), QString());
        verifyBox(result, Outcome::ReadTimeout, Icon::Critical, "Read timeout", message);
    }

    // An abort reply is taken as an answer; the word it refused is found missing in the read-back.
    void abortReplyWhileWritingIsCaughtByTheReadBack()
    {
        const std::vector<uint8_t> image = imageOf(256);
        std::vector<uint8_t> flash = image;
        putLe32(&flash[12], 0xFFFFFFFF);
        Coupler coupler;
        coupler.bootLoaderRuns();
        for (int n = 0; n < 64; ++n) {
            coupler.exchange(record(0x600, 0x23, 0x5102, n, wordAt(image, 0, n)),
                             n == 3 ? hex("85 05 08 80 02 51 03 02 00 01 06")
                                    : record(0x580, 0x60, 0x5102, n, 0));
        }
        coupler.download(0x5100, 6, 0x8000);
        coupler.readPage(flash, 0);
        RecordingObserver observer;
        CanopenRunResult result;
        QCOMPARE(play(coupler, observer, image, 256, result), QString());
        verifyBox(result, Outcome::FileDifferent, Icon::Critical, "Burning Firmware Failed",
                  "File is different");
    }

    void readBackIsJudgedOverTheImage_data()
    {
        QTest::addColumn<int>("changedByte");
        QTest::addColumn<bool>("verified");
        QTest::newRow("first image byte") << 0 << false;
        QTest::newRow("last image byte") << 299 << false;
        QTest::newRow("filling after the image") << 300 << true;
    }
    void readBackIsJudgedOverTheImage()
    {
        QFETCH(int, changedByte);
        QFETCH(bool, verified);
        const std::vector<uint8_t> image = imageOf(300);
        std::vector<uint8_t> flash = image;
        flash[changedByte] ^= 0x10;
        Coupler coupler;
        coupler.bootLoaderRuns();
        coupler.writeAndRead(image, flash);
        // Command 4 and the start follow only a verified read-back.
        if (verified)
            coupler.verifiedAndStarted();
        RecordingObserver observer;
        CanopenRunResult result;
        QCOMPARE(play(coupler, observer, image, 300, result), QString());
        if (verified) {
            QCOMPARE(int(result.outcome), int(Outcome::Updated));
            return;
        }
        verifyBox(result, Outcome::FileDifferent, Icon::Critical, "Burning Firmware Failed",
                  "File is different");
        QCOMPARE(observer.values, QList<int>({0, 256, 512, 768}));
    }

    // A stop asked for before the run starts: not even the boot request is sent.
    void stopBeforeTheRunSendsNothing()
    {
        Coupler coupler;
        RecordingObserver observer;
        observer.canceled = true;
        CanopenRunResult result;
        QCOMPARE(play(coupler, observer, imageOf(256), 256, result), QString());
        QCOMPARE(int(result.outcome), int(Outcome::Cancelled));
        QCOMPARE(coupler.link.requestCount(), 0);
    }

    void abortWhileReadingEndsWithoutVerdict()
    {
        const std::vector<uint8_t> image = imageOf(2 * 256);
        Coupler coupler;
        RecordingObserver observer;
        coupler.bootLoaderRuns();
        coupler.writePage(image, 0);
        coupler.writePage(image, 1);
        coupler.readPage(image, 0);
        coupler.link.atRequest(2 + 2 * 65 + 1, [&] { observer.canceled = true; });
        CanopenRunResult result;
        QCOMPARE(play(coupler, observer, image, 2 * 256, result), QString());
        QCOMPARE(int(result.outcome), int(Outcome::Cancelled));
        QVERIFY(!result.box.showsBox());
    }

};

TARNLOW_TEST_MAIN(TestCanopenUpdateEngine)
#include "test_canopen_update_engine.moc"
