// The update engine without window or port, against the simulated coupler in-process: each
// request record goes straight to the coupler, its answer waits for the engine's next read, and
// one trace lists the requests, pauses, guard frame and progress reports in the order they came.
#include "coupler_can/canopen_comm.h"
#include "coupler_can/canopen_update_engine.h"
#include "coupler_can/canopen_update_outcome.h"
#include "coupler_can/sdo_messages.h"
#include "coupler_can/timeout_exception.h"
#include "sim/canopen_simulated_coupler.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/test_main.h"

#include <QtEndian>

namespace {

using Kind = UpdateResult::Kind;
using After = UpdateResult::DeviceAfter;
constexpr uint8_t nodeId = 5;

QByteArray le(uint32_t value)
{
    QByteArray bytes(4, 0);
    qToLittleEndian(value, bytes.data());
    return bytes;
}
const QByteArray bootKey = le(0x4C1D93E7);

// A request record to our node as it goes on the wire; `data` is its last four bytes.
QString sdo(uint8_t command, uint16_t index, uint8_t subIndex, const QByteArray &data = QByteArray(4, 0))
{
    const char head[] = {char(nodeId), 0x06, 8, char(command), char(index & 0xFF), char(index >> 8), char(subIndex)};
    return QString::fromLatin1((QByteArray(head, 7) + data).toHex(' '));
}

struct Harness : CANopenCOMM, UpdateProgress, CancelToken {
    CanopenSimulatedCoupler coupler;
    QByteArray pending;  // answer bytes the engine has not read yet
    QStringList trace;
    bool canceled = false;
    QByteArray padded;  // the image bytes, then the 0xFF filling up to the end of the last page
    std::vector<uint8_t> image, readBack;

    explicit Harness(bool inBootLoader) : coupler(nodeId, inBootLoader) {}

    bool send(const PassThroughFrame::SdoRecord &record)
    {
        trace << QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(record.data()), 11).toHex(' '));
        const std::vector<uint8_t> answer = coupler.handle(record);
        pending.append(reinterpret_cast<const char *>(answer.data()), int(answer.size()));
        return true;
    }
    uint32_t take(int size, const std::string &timeout)
    {
        if (pending.size() < size)
            throw new timeout_exception(timeout);
        const uint32_t value = size == 11 ? qFromLittleEndian<uint32_t>(pending.constData() + 7) : 0;
        pending.remove(0, size);
        return value;
    }
    bool sendDownloadRequest(uint8_t node, uint16_t index, uint8_t subIndex, const uint32_t *value) override
    {
        return send(SdoMessages::downloadRequest(node, index, subIndex, *value));
    }
    bool readDownloadResponse(uint16_t index, uint8_t subIndex, uint32_t *result) override
    {
        *result = take(11, SdoMessages::downloadTimeoutMessage(index, subIndex));
        return true;
    }
    bool sendUploadRequest(uint8_t node, uint16_t index, uint8_t subIndex) override
    {
        return send(SdoMessages::uploadRequest(node, index, subIndex));
    }
    bool readUploadResponse(uint16_t index, uint8_t subIndex, uint32_t *result) override
    {
        *result = take(11, SdoMessages::uploadTimeoutMessage(index, subIndex));
        return true;
    }
    void receiveGuard() override
    {
        take(4, "Receive Guard");
        trace << "guard";
    }

    void phase(UpdatePhase phase, int) override { trace << "label " + canopenPhaseLabel(phase); }
    void setMaximum(int maximum) override { trace << QString("range 0 %1").arg(maximum); }
    void setValue(int value) override { trace << QString("value %1").arg(value); }
    bool requested() override { return canceled; }
    // The cost times vary from run to run.
    void debugLine(const std::string &line)
    {
        trace << "debug " + QString::fromStdString(line).replace(QRegularExpression("\\d+ microsecond$"), "N microsecond");
    }

    UpdateResult run(int length)
    {
        padded = FirmwareBuilder::pattern(length) + QByteArray((256 - length % 256) % 256, '\xFF');
        image.assign(padded.begin(), padded.end());
        readBack.assign(image.size(), 0);
        CanopenUpdateEngine engine(*this, nodeId,
                                   {*this, *this, [this](int ms) { trace << QString("pause %1").arg(ms); },
                                    [this](const std::string &line) { debugLine(line); }});
        return engine.run(image, length, readBack);
    }
};

}

Q_DECLARE_METATYPE(UpdateResult::DeviceAfter)

class TestCanopenUpdateEngine : public QObject
{
    Q_OBJECT

private slots:
    void updateMakesTheseRequestsPausesAndReports()
    {
        Harness h(false);
        const UpdateResult result = h.run(300);
        QCOMPARE(int(result.kind), int(Kind::Verified));
        QCOMPARE(int(result.deviceAfter), int(After::NewFirmware));
        QCOMPARE(canopenUpdateOutcome(result).deviceState,
                 QString("The coupler runs the new firmware. Its mode signature read last: 0x6E6F726D (\"norm\")."));
        QStringList expected = {"range 0 1025", "label Burning Firmware to Remote IO...", "debug Check is boot mode", sdo(0x40, 0x5101, 0), "debug 6d 72 6f 6e",
                                sdo(0x23, 0x5100, 1, bootKey), "pause 500", sdo(0x23, 0x5100, 2, bootKey),
                                "debug Check is boot mode", sdo(0x40, 0x5101, 0), "debug 74 6f 6f 62",
                                sdo(0x23, 0x5100, 8, le(0x9B27E05A))};
        for (int page = 0; page < 2; ++page) {
            for (int n = 0; n < 64; ++n)
                expected << sdo(0x23, 0x5102, n, h.padded.mid(256 * page + 4 * n, 4));
            expected << QString("debug Byte index %1 Cost time N microsecond").arg(256 * page + 256)
                     << sdo(0x23, 0x5100, 6, le(0x8000 + 256 * page)) << QString("value %1").arg(256 * page);
        }
        expected << "debug Write 512 Bytes, Cost time N microsecond" << "label Reading Flash for comparing...";
        for (int page = 0; page < 2; ++page) {
            expected << sdo(0x23, 0x5100, 7, le(0x8000 + 256 * page));
            for (int n = 0; n < 64; ++n)
                expected << sdo(0x40, 0x5102, n);
            expected << QString("value %1").arg(512 + 256 * page);
        }
        expected << "debug Read 512 Bytes, Cost time N microsecond" << sdo(0x23, 0x5100, 4, bootKey)
                 << "label Enter user mode...(wait 5 second)" << sdo(0x23, 0x5100, 3, bootKey) << "pause 5000"
                 << "guard" << sdo(0x40, 0x5101, 0) << "range 0 1" << "value 1";
        QCOMPARE(h.trace, expected);
        QVERIFY(h.readBack == h.image);
    }

    // Every awaited reply that does not come names the object it was for, and the result what the
    // coupler runs by then.
    void missingReplyNamesItsObject_data()
    {
        QTest::addColumn<int>("silentFrom");
        QTest::addColumn<QString>("message");
        QTest::addColumn<After>("after");
        QTest::addColumn<QString>("signature");   // the mode signature read last, as a word
        // Requests: signature, commands 1, 2, signature, command 8, 64 words and command 6,
        // command 7 and 64 words, commands 4 and 3, signature.
        QTest::newRow("first signature") << 1 << "Index: 5101, SubIndex: 0" << After::Untouched << "";
        QTest::newRow("command 2") << 3 << "Index: 5100, SubIndex:  2" << After::Unanswered << "norm";
        QTest::newRow("command 8") << 5 << "Index: 5100, SubIndex:  8" << After::InBootLoader << "boot";
        QTest::newRow("word 3 written") << 9 << "Index: 5102, SubIndex:  3" << After::InBootLoader << "boot";
        QTest::newRow("command 6") << 70 << "Index: 5100, SubIndex:  6" << After::InBootLoader << "boot";
        QTest::newRow("command 7") << 71 << "Index: 5100, SubIndex:  7" << After::InBootLoader << "boot";
        QTest::newRow("word 0x1a read") << 72 + 0x1a << "Index: 5102, SubIndex: 1a" << After::InBootLoader << "boot";
        QTest::newRow("command 4") << 136 << "Index: 5100, SubIndex:  4" << After::InBootLoader << "boot";
        QTest::newRow("command 3 lost, no guard frame") << 137 << "Receive Guard" << After::NewFirmwareUnconfirmed
                                                        << "boot";
        QTest::newRow("last signature") << 138 << "Index: 5101, SubIndex: 0" << After::NewFirmwareUnconfirmed << "boot";
    }
    void missingReplyNamesItsObject()
    {
        QFETCH(int, silentFrom);
        QFETCH(QString, message);
        QFETCH(After, after);
        QFETCH(QString, signature);
        Harness h(false);
        h.coupler.faults.silentFromRequest = silentFrom;
        const UpdateResult result = h.run(256);
        QCOMPARE(int(result.cause), int(UpdateResult::Cause::TransferTimedOut));
        const UpdateOutcome box = canopenUpdateOutcome(result);
        QCOMPARE(int(box.icon), int(UpdateOutcome::Icon::Critical));
        QCOMPARE(box.title, QString("Read timeout"));
        QCOMPARE(box.text, message);
        QCOMPARE(int(result.deviceAfter), int(after));
        QVERIFY2(box.deviceState.endsWith(signature.isEmpty() ? QString("it runs the firmware it ran before.")
                                                              : QString(" (\"%1\").").arg(signature)),
                 qPrintable(box.deviceState));
        QCOMPARE(int(h.coupler.requests().size()), silentFrom);
    }

    // Not reachable from the page, whose dialog is new when the run starts.
    void stopBeforeTheRunSendsNothing()
    {
        Harness h(true);
        h.canceled = true;
        const UpdateResult result = h.run(256);
        QCOMPARE(int(result.kind), int(Kind::Aborted));
        QCOMPARE(int(result.deviceAfter), int(After::Untouched));
        QVERIFY(!canopenUpdateOutcome(result).showsBox());
        QCOMPARE(h.trace, (QStringList{"range 0 513", "label Burning Firmware to Remote IO..."}));
    }
};

TARNLOW_TEST_MAIN(TestCanopenUpdateEngine)
#include "test_canopen_update_engine.moc"
