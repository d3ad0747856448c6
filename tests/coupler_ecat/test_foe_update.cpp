// The FoE update sequence against the simulated coupler in this process: the state changes
// from wherever the coupler is, the file as the boot loader receives it, every result of the
// FoE write and the lines on standard output.
#include "coupler_ecat/ethercat_coupler_update.h"
#include "tests/coupler_ecat/coupler_segment.h"
#include "tests/coupler_ecat/stdout_capture.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <deque>
#include <numeric>

#include <unistd.h>

using SimEthercat::Coupler;

Q_DECLARE_METATYPE(SimEthercat::BootMailbox)
Q_DECLARE_METATYPE(std::vector<uint16_t>)

namespace {

QByteArray received(const Coupler &coupler)
{
    const auto &file = coupler.record().file;
    return QByteArray(reinterpret_cast<const char *>(file.data()), int(file.size()));
}

struct Run {
    int result = 0;
    QByteArray output;
    QString why;   // what the page's box adds below "Update Firmware failed."
};

Run update(Ethercat::LinkOpener segment, const QString &path, bool abortAtOnce = false)
{
    EthercatCouplerUpdate engine(std::move(segment));
    engine.foeAbortRequested = abortAtOnce;
    StdoutCapture capture;
    Run run;
    run.result = engine.updateSlaveFirmware("tlec-test", 1, path.toUtf8().constData());
    run.output = capture.text();
    run.why = QString::fromStdString(engine.failureReason());
    return run;
}

// Another master has found the coupler and taken it to PRE-OP, and perhaps asked for a state
// the coupler refused, which left the error indication.
void bringToPreOp(Coupler &coupler, bool withError)
{
    Ethercat::Master master(couplerSegment(&coupler));
    master.ec_init("tlec-test");
    master.ec_config_init(false);
    master.requestState(1, Ethercat::PRE_OP);
    QCOMPARE(master.ec_statecheck(1, Ethercat::PRE_OP, 100000), uint16_t(Ethercat::PRE_OP));
    if (withError) {
        master.requestState(1, Ethercat::SAFE_OP);
        QCOMPARE(master.awaitState(1, Ethercat::SAFE_OP, 100000), uint16_t(Ethercat::PRE_OP));
        QCOMPARE(master.ec_slave[1].alStatusCode, SimEthercat::alStatusInvalidStateChange);
    }
}

bool waitUntilState(Coupler &coupler, uint16_t state)
{
    QElapsedTimer timer;
    timer.start();
    while (coupler.state() != state && timer.elapsed() < 1000)
        QThread::msleep(1);
    return coupler.state() == state;
}

Run update(Coupler *coupler, const QString &path)
{
    return update(couplerSegment(coupler), path);
}

Run update(Coupler *coupler, const QByteArray &firmware)
{
    return update(coupler, SandboxFiles::write("ECAT Firmware/Coupler.BIN", firmware));
}

// A segment that raises the abort flag once the boot loader has taken `afterPackets` data
// messages, as the page does when the user presses Abort.
class AbortingLink : public SimEthercat::InProcessLink
{
public:
    AbortingLink(Coupler *coupler, std::size_t afterPackets, std::atomic<bool> &abort)
        : InProcessLink(coupler), m_coupler(coupler), m_after(afterPackets), m_abort(abort) {}
    bool send(const Ethercat::Bytes &frame) override
    {
        const bool sent = InProcessLink::send(frame);
        if (m_coupler->record().foePackets.size() >= m_after)
            m_abort = true;
        return sent;
    }

private:
    Coupler *m_coupler;
    std::size_t m_after;
    std::atomic<bool> &m_abort;
};

// A segment whose cable is pulled once the file is in: from the first state request after it,
// no frame comes back.
class CutAfterTheFileLink : public SimEthercat::InProcessLink
{
public:
    explicit CutAfterTheFileLink(Coupler *coupler) : InProcessLink(coupler), m_coupler(coupler) {}
    bool send(const Ethercat::Bytes &frame) override
    {
        const auto datagram = Ethercat::decodeFrame(frame);
        m_cut = m_cut
            || (m_coupler->record().fileComplete && datagram && datagram->offset == Ethercat::Register::alControl);
        return m_cut || InProcessLink::send(frame);
    }

private:
    Coupler *m_coupler;
    bool m_cut = false;
};

// A segment that mistreats every n-th datagram of one kind (command and register): loses it on
// the way out, loses its reply, or delivers the reply twice.
class LossyLink : public Ethercat::Link
{
public:
    enum class Harm { LoseFrame, LoseReply, DoubleReply };

    LossyLink(Coupler *coupler, Ethercat::Command command, uint16_t offset, int every, Harm harm)
        : m_coupler(coupler), m_command(command), m_offset(offset), m_every(every), m_harm(harm) {}

    bool send(const Ethercat::Bytes &frame) override
    {
        ++framesSent;
        const auto datagram = Ethercat::decodeFrame(frame);
        const bool harmed = datagram && datagram->command == m_command && datagram->offset == m_offset
            && ++m_seen % m_every == 0;
        if (harmed && m_harm == Harm::LoseFrame)
            return true;
        auto answered = m_coupler->answer(frame);
        if (!answered || (harmed && m_harm == Harm::LoseReply))
            return true;
        m_pending.push_back(*answered);
        if (harmed && m_harm == Harm::DoubleReply)
            m_pending.push_back(*answered);
        return true;
    }

    bool receive(Ethercat::Bytes &frame, int) override
    {
        if (m_pending.empty())
            return false;
        frame = m_pending.front();
        m_pending.pop_front();
        return true;
    }

private:
    Coupler *m_coupler;
    Ethercat::Command m_command;
    uint16_t m_offset;
    int m_every;
    Harm m_harm;
    int m_seen = 0;
    std::deque<Ethercat::Bytes> m_pending;
};

}

class TestFoeUpdate : public QObject
{
    Q_OBJECT

private slots:
    void aCouplerInBootIsWrittenWithoutTheBootRequest()
    {
        Coupler coupler(128, true);
        const QString path = SandboxFiles::write("ECAT Firmware/Coupler.BIN", FirmwareBuilder::pattern(300));
        const Run run = update(&coupler, path);
        QVERIFY(run.result > 0);
        QByteArray expected = FirmwareBuilder::pattern(300) + QByteArray(212, char(0xFF));
        QCOMPARE(received(coupler), expected);
        QVERIFY(coupler.record().sdoDownloads.empty());
        QCOMPARE(QString::fromStdString(coupler.record().foeFileName), path);
        QCOMPARE(coupler.record().foePassword, 0x6B2F1D94u);
        QCOMPARE(run.output, QByteArray("Starting firmware update example\n"
                                        "ec_init on tlec-test succeeded.\n"
                                        "1 slaves found and configured.\n"
                                        "Slave 1 state to BOOT.\n"
                                        "File read OK, 512 bytes.\n"
                                        "FoE write....result 1.\n"
                                        "Request Pre-OP state for slave 1\n"
                                        "End firmware update example, close socket\n"));
    }

    // Both kinds of boot loader, from every state the coupler may be in, with firmware that takes
    // each AL control value a little late: the whole file arrives over the mailbox the slave has
    // in BOOT, no sync manager write is lost, and BOOT is left through INIT with the error
    // indication acknowledged, so the coupler ends in PRE-OP.
    void everyStartOnBothKindsOfBootLoaderStoresTheFile_data()
    {
        using SimEthercat::BootMailbox;
        QTest::addColumn<BootMailbox>("bootMailbox");
        QTest::addColumn<int>("startState");
        QTest::addColumn<int>("segment");
        QTest::addColumn<std::vector<uint16_t>>("stateRequests");
        // BOOT refused on the standard mailbox (0x0015), then INIT, the bootstrap mailbox, BOOT.
        const std::vector<uint16_t> bootstrapWay{0x11, 2, 3, 0x11, 3, 3, 0x11, 2};
        const std::vector<uint16_t> standardWay{0x11, 2, 3, 3, 0x11, 2};
        const std::vector<uint16_t> alreadyInBoot{3, 0x11, 2};
        const int preOpWithError = Ethercat::PRE_OP | Ethercat::alErrorIndication;
        QTest::newRow("bootstrap mailbox, from INIT") << BootMailbox::Bootstrap << int(Ethercat::INIT) << 244 << bootstrapWay;
        QTest::newRow("bootstrap mailbox, from PRE-OP") << BootMailbox::Bootstrap << int(Ethercat::PRE_OP) << 244 << bootstrapWay;
        QTest::newRow("bootstrap mailbox, from PRE-OP with an error") << BootMailbox::Bootstrap << preOpWithError << 244 << bootstrapWay;
        QTest::newRow("bootstrap mailbox, in BOOT") << BootMailbox::Bootstrap << int(Ethercat::BOOT) << 244 << alreadyInBoot;
        QTest::newRow("standard mailbox, from INIT") << BootMailbox::Standard << int(Ethercat::INIT) << 116 << standardWay;
        QTest::newRow("standard mailbox, from PRE-OP with an error") << BootMailbox::Standard << preOpWithError << 116 << standardWay;
        QTest::newRow("standard mailbox, in BOOT") << BootMailbox::Standard << int(Ethercat::BOOT) << 116 << alreadyInBoot;
    }
    void everyStartOnBothKindsOfBootLoaderStoresTheFile()
    {
        QFETCH(SimEthercat::BootMailbox, bootMailbox);
        QFETCH(int, startState);
        QFETCH(int, segment);
        QFETCH(std::vector<uint16_t>, stateRequests);
        Coupler coupler(256, startState == Ethercat::BOOT, bootMailbox);
        if ((startState & Ethercat::stateMask) == Ethercat::PRE_OP)
            bringToPreOp(coupler, startState & Ethercat::alErrorIndication);
        coupler.faults.alControlDelayMs = 2;
        const std::size_t earlierRequests = coupler.record().alControlWrites.size();
        EthercatCouplerUpdate engine(couplerSegment(&coupler));
        StdoutCapture capture;
        const QString path = SandboxFiles::write("ECAT Firmware/Coupler.BIN", FirmwareBuilder::pattern(1000));
        QVERIFY(engine.updateSlaveFirmware("tlec-test", 1, path.toUtf8().constData()) > 0);
        const QByteArray output = capture.text();

        const auto &record = coupler.record();
        QCOMPARE(received(coupler), FirmwareBuilder::pattern(1000) + QByteArray(24, char(0xFF)));
        QCOMPARE(int(record.foeSegmentSizes.front()), segment);
        QCOMPARE(std::vector<uint16_t>(record.alControlWrites.begin() + long(earlierRequests), record.alControlWrites.end()),
                 stateRequests);
        for (const auto &write : record.syncManagerWrites)
            QVERIFY2(!write.dropped, qPrintable(QString::number(write.offset, 16)));
        QVERIFY(waitUntilState(coupler, Ethercat::PRE_OP));
        QCOMPARE(QString::fromStdString(engine.stateLeftIn()), QString("PRE-OP"));
        QCOMPARE(engine.outcome(1).informative, QString());
        if (startState != Ethercat::BOOT) {
            QCOMPARE(int(record.sdoDownloads.size()), 1);
            QCOMPARE(record.sdoDownloads[0].index, uint16_t(0x5000));
            QCOMPARE(record.sdoDownloads[0].subIndex, uint8_t(3));
            QCOMPARE(record.sdoDownloads[0].value, (Ethercat::Bytes{0x15, 0x2C, 0x7A, 0x4E}));
            QVERIFY(output.contains("Request init state for slave 1\nSlave 1 state to INIT.\n"
                                    " SM0 A:1000 L: 128 F:00010026\n"
                                    " SM1 A:1080 L: 128 F:00010022\n"
                                    "Slave 1 state to BOOT.\nFile read OK, 1024 bytes.\n"));
            const std::vector<uint16_t> bootstrapEntries{0x0014, 0x0016};
            QVERIFY(std::search(record.eepromReads.begin(), record.eepromReads.end(), bootstrapEntries.begin(),
                                bootstrapEntries.end()) != record.eepromReads.end());
        }
        // Every message the master sent carries the next counter: 1..7, then 1 again.
        for (std::size_t i = 0; i < record.mailboxCounters.size(); ++i)
            QCOMPARE(int(record.mailboxCounters[i]), int(i % 7 + 1));
    }

    void fileSizesAndTheClosingEmptyMessage_data()
    {
        QTest::addColumn<int>("mailboxSize");
        QTest::addColumn<int>("fileSize");
        QTest::addColumn<QVector<int>>("segments");
        QTest::newRow("256 bytes go unpadded") << 128 << 256 << QVector<int>{116, 116, 24};
        QTest::newRow("whole multiple of maxdata") << 140 << 256 << QVector<int>{128, 128, 0};
        QTest::newRow("maxdata of 1012 bytes") << 1024 << 2048 << QVector<int>{1012, 1012, 24};
    }
    void fileSizesAndTheClosingEmptyMessage()
    {
        QFETCH(int, mailboxSize);
        QFETCH(int, fileSize);
        QFETCH(QVector<int>, segments);
        Coupler coupler(uint16_t(mailboxSize), true);
        QVERIFY(update(&coupler, FirmwareBuilder::pattern(fileSize)).result > 0);
        QVector<int> sizes;
        for (std::size_t size : coupler.record().foeSegmentSizes)
            sizes.append(int(size));
        QCOMPARE(sizes, segments);
        QCOMPARE(received(coupler), FirmwareBuilder::pattern(fileSize));
        QVERIFY(coupler.record().fileComplete);
    }

    // An empty file would store no firmware and one over 8 MiB only its first 8 MiB, and both
    // transfers would succeed: neither is read.
    void fileThatWouldBeSentWrongIsNotRead_data()
    {
        QTest::addColumn<int>("fileSize");
        QTest::newRow("empty") << 0;
        QTest::newRow("one byte over 8 MiB") << firmwareBufferSize + 1;
    }
    void fileThatWouldBeSentWrongIsNotRead()
    {
        QFETCH(int, fileSize);
        Coupler coupler(128, true);
        const Run run = update(&coupler, QByteArray(fileSize, '\x5A'));
        QCOMPARE(run.result, 0);
        QVERIFY(run.output.contains("Slave 1 state to BOOT.\nFile not read OK.\nRequest Pre-OP state for slave 1\n"));
        QCOMPARE(coupler.record().foeWriteRequests, 0);
        QVERIFY(run.why.startsWith("The firmware file could not be read, is empty or is larger than 8 MiB: "));
    }

    void fileOfExactly8MiBIsRead()
    {
        int size = 0;
        EthercatCouplerUpdate engine;
        const QString path = SandboxFiles::write("ECAT Firmware/Full.BIN", QByteArray(firmwareBufferSize, '\x11'));
        QCOMPARE(engine.readFirmwareFile(path.toUtf8().constData(), size), 1);
        QCOMPARE(size, firmwareBufferSize);
        QCOMPARE(engine.readFirmwareFile("/nonexistent/file.bin", size), 0);
    }

    void foeErrorsAndWrongAcknowledgements_data()
    {
        QTest::addColumn<uint32_t>("errorCode");
        QTest::addColumn<int>("atPacket");
        QTest::addColumn<bool>("wrongAck");
        QTest::addColumn<int>("coeAtPacket");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("why");
        QTest::newRow("not found on the write request")
            << 0x8001u << 0 << false << 0 << -10 << "The coupler refused the file with FoE error 0x8001 (not found).";
        QTest::newRow("not found on packet 2")
            << 0x8001u << 2 << false << 0 << -10 << "The coupler refused the file with FoE error 0x8001 (not found).";
        QTest::newRow("access denied")
            << 0x8002u << 1 << false << 0 << -5 << "The coupler refused the file with FoE error 0x8002.";
        QTest::newRow("wrong packet acknowledged")
            << 0u << 0 << true << 0 << -7 << "The coupler acknowledged another packet than the one sent.";
        QTest::newRow("a CoE message instead of FoE")
            << 0u << 0 << false << 3 << -3 << "The coupler answered with a mailbox message that is no FoE reply.";
    }
    void foeErrorsAndWrongAcknowledgements()
    {
        QFETCH(uint32_t, errorCode);
        QFETCH(int, atPacket);
        QFETCH(bool, wrongAck);
        QFETCH(int, coeAtPacket);
        QFETCH(int, result);
        QFETCH(QString, why);
        Coupler coupler(128, true);
        coupler.faults.foeErrorCode = errorCode;
        coupler.faults.foeErrorAtPacket = atPacket;
        coupler.faults.wrongAckPacket = wrongAck;
        coupler.faults.coeReplyAtPacket = coeAtPacket;
        const Run run = update(&coupler, FirmwareBuilder::pattern(1024));
        QCOMPARE(run.result, result);
        QVERIFY(run.output.contains(QStringLiteral("result %1.\n").arg(result).toUtf8()));
        QCOMPARE(run.why, why);
        QVERIFY(run.output.endsWith("Request Pre-OP state for slave 1\n"
                                    "End firmware update example, close socket\n"));
        QVERIFY(!coupler.record().fileComplete);
    }

    void busyAnswersAreWaitedOutAndTheMessageSentAgain()
    {
        Coupler coupler(128, true);
        coupler.faults.busyReplies = 3;
        QVERIFY(update(&coupler, FirmwareBuilder::pattern(512)).result > 0);
        QCOMPARE(coupler.record().busyAnswers, 3);
        QCOMPARE(received(coupler), FirmwareBuilder::pattern(512));
        QCOMPARE(coupler.record().foePackets, (std::vector<uint32_t>{1, 2, 3, 4, 5}));
    }

    void aBootLoaderThatStaysBusyFailsTheUpdate()
    {
        Coupler coupler(128, true);
        coupler.faults.busyReplies = 1000;
        QCOMPARE(update(&coupler, FirmwareBuilder::pattern(512)).result, foeStillBusy);
        QCOMPARE(coupler.record().busyAnswers, foeBusyResendLimit + 1);
    }

    void abortBeforeTheWriteStillSendsTheFirstDataMessage()
    {
        Coupler coupler(128, true);
        const Run run = update(couplerSegment(&coupler),
                               SandboxFiles::write("ECAT Firmware/Coupler.BIN", FirmwareBuilder::pattern(1024)), true);
        QVERIFY(run.result > 0);
        QCOMPARE(coupler.record().foeWriteRequests, 1);
        QCOMPARE(coupler.record().foePackets, (std::vector<uint32_t>{1}));
        QCOMPARE(coupler.record().alControlWrites.back(), uint16_t(Ethercat::PRE_OP));
    }

    void abortDuringTheTransferStopsAfterTheCurrentMessage()
    {
        Coupler coupler(128, true);
        EthercatCouplerUpdate engine;
        engine.master.setLinkOpener([&](const std::string &) {
            return std::unique_ptr<Ethercat::Link>(new AbortingLink(&coupler, 3, engine.foeAbortRequested));
        });
        const QString path = SandboxFiles::write("ECAT Firmware/Coupler.BIN", FirmwareBuilder::pattern(4096));
        QVERIFY(engine.updateSlaveFirmware("tlec-test", 1, path.toUtf8().constData()) > 0);
        QCOMPARE(coupler.record().foePackets, (std::vector<uint32_t>{1, 2, 3}));
        QVERIFY(!coupler.record().fileComplete);
        QCOMPARE(coupler.record().alControlWrites.back(), uint16_t(Ethercat::PRE_OP));
    }

    void noBootStateWithinTheTimeOut()
    {
        Coupler coupler(128);
        coupler.faults.neverBoot = true;
        const Run run = update(&coupler, FirmwareBuilder::pattern(256));
        QCOMPARE(run.result, 0);
        QVERIFY(!run.output.contains("state to BOOT"));
        QVERIFY(!run.output.contains("File read"));
        QCOMPARE(run.why, QString("Slave 1 did not reach the BOOT state (it is in PRE-OP + ERROR, AL status code 0x0011)."));
        QCOMPARE(coupler.state(), uint16_t(Ethercat::PRE_OP));
        QVERIFY(run.output.endsWith("Request Pre-OP state for slave 1\n"
                                    "End firmware update example, close socket\n"));
        QCOMPARE(coupler.record().alControlWrites.back(), uint16_t(Ethercat::PRE_OP));
    }

    // The file is written, but a boot loader that keeps BOOT does not run it: the success box
    // tells the technician to switch the coupler off and on.
    void aCouplerThatStaysInBootIsNamedInTheSuccessBox()
    {
        Coupler coupler(128, true);
        coupler.faults.staysInBoot = true;
        EthercatCouplerUpdate engine(couplerSegment(&coupler));
        StdoutCapture capture;
        const QString path = SandboxFiles::write("ECAT Firmware/Coupler.BIN", FirmwareBuilder::pattern(256));
        const int result = engine.updateSlaveFirmware("tlec-test", 1, path.toUtf8().constData());
        QVERIFY(result > 0);
        QCOMPARE(received(coupler), FirmwareBuilder::pattern(256));
        const UpdateOutcome outcome = engine.outcome(result);
        QCOMPARE(outcome.text, QString("Update firmware successfully."));
        QCOMPARE(outcome.informative, QString("The coupler did not leave BOOT cleanly (state BOOT + ERROR, AL status "
                                              "code 0x0011); switch it off and on again to start the new firmware."));
    }

    void aCouplerLostAfterTheTransferIsInAStateNobodyKnows()
    {
        Coupler coupler(128, true);
        EthercatCouplerUpdate engine([&coupler](const std::string &) {
            return std::unique_ptr<Ethercat::Link>(new CutAfterTheFileLink(&coupler));
        });
        StdoutCapture capture;
        const QString path = SandboxFiles::write("ECAT Firmware/Coupler.BIN", FirmwareBuilder::pattern(256));
        const int result = engine.updateSlaveFirmware("tlec-test", 1, path.toUtf8().constData());
        QVERIFY(result > 0);
        QVERIFY(capture.text().endsWith("Request Pre-OP state for slave 1\nEnd firmware update example, close socket\n"));
        QCOMPARE(QString::fromStdString(engine.stateLeftIn()), QString("unknown"));
        QCOMPARE(engine.outcome(result).informative, QString("The coupler did not leave BOOT cleanly (state unknown); "
                                                             "switch it off and on again to start the new firmware."));
    }

    void noSlaveOnTheSegment()
    {
        const Run run = update(nullptr, FirmwareBuilder::pattern(256));
        QCOMPARE(run.result, 0);
        QCOMPARE(run.output, QByteArray("Starting firmware update example\n"
                                        "ec_init on tlec-test succeeded.\n"
                                        "No slaves found!\n"
                                        "End firmware update example, close socket\n"));
        QCOMPARE(run.why, QString("No EtherCAT slave 1 answered on tlec-test."));
    }

    void aBootLoaderThatNeverAnswersTimesOut()
    {
        Coupler coupler(128, true);
        coupler.faults.silentMailbox = true;
        const Run run = update(&coupler, FirmwareBuilder::pattern(256));
        QCOMPARE(run.result, 0);
        QVERIFY(run.output.contains("FoE write....result 0.\n"));
        QCOMPARE(run.why, QString("The coupler's mailbox did not answer in time."));
    }

    void aMissingFileIsReportedAfterTheStateChanges()
    {
        Coupler coupler(128, true);
        const Run run = update(&coupler, QString());
        QCOMPARE(run.result, 0);
        QVERIFY(run.output.contains("Slave 1 state to BOOT.\nFile not read OK.\n"
                                    "Request Pre-OP state for slave 1\n"));
        QCOMPARE(coupler.record().foeWriteRequests, 0);
    }

    void anAdapterThatCannotBeOpened()
    {
        const Run run = update([](const std::string &) { return nullptr; }, "x");
        QCOMPARE(run.result, 0);
        QCOMPARE(run.output, QByteArray("Starting firmware update example\n"
                                        "No socket connection on tlec-test\nExcecute as root\n"));
        QVERIFY(run.why.startsWith("The network adapter tlec-test could not be opened for raw EtherCAT frames."));
        // Without root the text says how to grant the raw-socket capabilities.
        QCOMPARE(run.why.contains("setcap cap_net_raw,cap_net_admin+eip"), ::geteuid() != 0);
    }

    // A frame lost on either way is sent again, a lost mailbox reply is asked for again, a
    // mailbox message sent twice is taken once, and a late duplicate reply is dropped.
    void lostAndDoubledFramesStillWriteTheWholeFile_data()
    {
        using Harm = LossyLink::Harm;
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("harm");
        const int read = int(Ethercat::Command::FPRD);
        const int write = int(Ethercat::Command::FPWR);
        QTest::newRow("mailbox write lost") << write << int(SimEthercat::bootstrapWriteMailbox) << int(Harm::LoseFrame);
        QTest::newRow("mailbox write acknowledged, reply lost")
            << write << int(SimEthercat::bootstrapWriteMailbox) << int(Harm::LoseReply);
        QTest::newRow("mailbox read reply lost") << read << int(SimEthercat::bootstrapReadMailbox) << int(Harm::LoseReply);
        QTest::newRow("mailbox read reply twice") << read << int(SimEthercat::bootstrapReadMailbox) << int(Harm::DoubleReply);
        QTest::newRow("mailbox read lost") << read << int(SimEthercat::bootstrapReadMailbox) << int(Harm::LoseFrame);
    }
    void lostAndDoubledFramesStillWriteTheWholeFile()
    {
        QFETCH(int, command);
        QFETCH(int, offset);
        QFETCH(int, harm);
        Coupler coupler(128, true);
        const Run run = update(
            [&](const std::string &) {
                return std::unique_ptr<Ethercat::Link>(new LossyLink(&coupler, Ethercat::Command(command),
                                                                     uint16_t(offset), 3, LossyLink::Harm(harm)));
            },
            SandboxFiles::write("ECAT Firmware/Coupler.BIN", FirmwareBuilder::pattern(4096)));
        QVERIFY2(run.result > 0, run.output.constData());
        QVERIFY(coupler.record().fileComplete);
        QCOMPARE(received(coupler), FirmwareBuilder::pattern(4096));
        if (LossyLink::Harm(harm) == LossyLink::Harm::LoseReply && offset == SimEthercat::bootstrapReadMailbox)
            QVERIFY(coupler.record().repeatRequests > 0);
        std::vector<uint32_t> eachPacketOnce(4096 / (128 - 12) + 1);
        std::iota(eachPacketOnce.begin(), eachPacketOnce.end(), 1u);
        QCOMPARE(coupler.record().foePackets, eachPacketOnce);
    }
};

TARNLOW_TEST_MAIN(TestFoeUpdate)
#include "test_foe_update.moc"
