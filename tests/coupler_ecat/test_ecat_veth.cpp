// The whole EtherCAT update on real frames: the page and its master on one end of a veth
// pair, the simulated coupler program on the other end inside a network namespace of its
// own, with the product's own time-outs.
#include "coupler_ecat/tarnlow_ecat.h"
#include "ethercat/ethercat_master.h"
#include "ethercat/foe_messages.h"
#include "ethercat/pcap_link.h"
#include "sim/ethercat_veth_segment.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include "tests/coupler_ecat/frame_capture.h"

#include <QComboBox>
#include <QProcess>
#include <QStandardPaths>
#include <QPushButton>
#include <QSettings>

#include <memory>
#include <unistd.h>

namespace {

std::string simulatorProgram()
{
    return (SandboxFiles::binaryDirectory() + "/bin/tarnlow-sim-ethercat").toStdString();
}

// tshark's EtherCAT dissector reads the capture: it must find EtherCAT frames with FoE in their
// mailboxes, and nothing malformed or flagged as an error.
void expectCleanDissection(const QString &capture)
{
    const auto tshark = [&capture](const QString &filter) {
        QProcess process;
        process.start("tshark", {"-n", "-r", capture, "-Y", filter, "-T", "fields", "-e", "frame.number"});
        if (!process.waitForFinished(60000) || process.exitCode() != 0)
            return -1;
        return process.readAllStandardOutput().count('\n');
    };
    QVERIFY2(QStandardPaths::findExecutable("tshark").size() > 0, "tshark is not installed");
    QVERIFY(tshark("ecat") > 100);
    QVERIFY(tshark("ecat_mailbox.foe") > 10);
    QCOMPARE(tshark("_ws.malformed || _ws.expert.severity >= 0x00800000"), 0);
}

// The firmware download as a general-purpose master runs it: INIT, the bootstrap mailbox from the
// SII, BOOT requested from INIT directly (no vendor boot request), then the file by FoE, each data
// message sent after the acknowledge of the one before, the end marked by a short message.
bool standardFirmwareDownload(Ethercat::Master &master, const std::string &name, const QByteArray &file)
{
    using namespace Ethercat;
    if (master.ec_config_init(false) != 1)
        return false;
    master.ec_slave[1].state = INIT | 0x10;
    master.ec_writestate(1);
    if (master.ec_statecheck(1, INIT, 2000000) != INIT)
        return false;
    if (!master.setMailbox(1, master.readSiiMailbox(1, siiBootstrapReceiveMailbox, 20000)))
        return false;
    master.ec_slave[1].state = BOOT;
    master.ec_writestate(1);
    if (master.ec_statecheck(1, BOOT, 2000000) != BOOT)
        return false;
    Slave &slave = master.ec_slave[1];
    const std::size_t room = slave.mbx_l - Foe::mailboxOverhead;
    Bytes message = Foe::writeRequest(name, 0, slave.mbx_cnt = master.ec_nextmbxcnt(slave.mbx_cnt));
    for (uint32_t packet = 0;; ++packet) {
        Bytes reply;
        if (master.ec_mbxsend(1, message, 20000) <= 0 || master.ec_mbxreceive(1, reply, 2000000) <= 0)
            return false;
        const auto foe = Foe::decode(reply);
        if (!foe || foe->opCode != Foe::Ack || foe->word != packet)
            return false;
        const std::size_t sent = packet * room;
        if (sent > std::size_t(file.size()))
            return true;
        const std::size_t segment = std::min(room, std::size_t(file.size()) - sent);
        message = Foe::dataMessage(packet + 1, reinterpret_cast<const uint8_t *>(file.constData()) + sent,
                                   segment, slave.mbx_cnt = master.ec_nextmbxcnt(slave.mbx_cnt));
    }
}

}

class TestEcatVeth : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (geteuid() != 0)
            QSKIP("a network namespace and veth pair need root");
    }

    // A boot loader that needs its bootstrap mailbox and one that keeps the standard mailbox,
    // both started in INIT: the page writes the whole file and the coupler ends in PRE-OP
    // without the error indication, as another master sees it afterwards.
    void theCouplerIsUpdatedOverRealFrames_data()
    {
        QTest::addColumn<QString>("bootLoader");
        QTest::newRow("bootstrap mailbox") << QString();
        QTest::newRow("standard mailbox") << QString("--boot-keeps-standard-mailbox");
    }
    void theCouplerIsUpdatedOverRealFrames()
    {
        QFETCH(QString, bootLoader);
        std::vector<std::string> options{"--boot-delay-ms", "300", "--al-control-delay-ms", "3"};
        if (!bootLoader.isEmpty())
            options.push_back(bootLoader.toStdString());
        std::string error;
        const auto segment = SimEthercat::VethSegment::create(simulatorProgram(), options, error);
        QVERIFY2(segment, error.c_str());
        const QString path = SandboxFiles::write("ECAT Firmware/Coupler.BIN", FirmwareBuilder::pattern(5000));
        const QString adapter = QString::fromStdString(segment->masterAdapter());
        QSettings().setValue("Settings/nic", adapter);

        const QString capture = SandboxFiles::applicationDirectory() + "/update.pcap";
        auto recorder = std::make_unique<FrameCapture>(segment->masterAdapter(), capture.toStdString());
        QVERIFY(recorder->recording());
        TarnlowECAT page(nullptr, TarnlowTest::environment());
        auto *adapters = page.findChild<QComboBox *>("comboBox");
        QVERIFY(adapters->currentText().startsWith(adapter + " \u2014 "));
        QCOMPARE(adapters->currentData().toString(), adapter);
        MessageBoxRecorder boxes;
        QTimer::singleShot(0, page.findChild<QPushButton *>("button_update"), &QPushButton::click);
        QVERIFY(boxes.waitForBoxes(1, 30000));
        QCOMPARE(boxes.last().text, QString("Update firmware successfully."));
        QCOMPARE(boxes.last().informative, QString());
        QCOMPARE(QByteArray::fromStdString(segment->storedFile()),
                 FirmwareBuilder::pattern(5000) + QByteArray(5120 - 5000, char(0xFF)));
        const std::string log = segment->simulatorLog();
        QVERIFY2(log.find("boot request\n") != std::string::npos, log.c_str());
        QVERIFY2(log.find("foe write " + path.toStdString() + "\n") != std::string::npos, log.c_str());
        QVERIFY2(log.find("file stored, 5120 bytes\n") != std::string::npos, log.c_str());
        QVERIFY2(log.find("dropped") == std::string::npos, log.c_str());
        const std::size_t leaving = log.find("al control 17\n", log.find("file stored"));
        QVERIFY2(leaving != std::string::npos && log.find("al control 2\n", leaving) != std::string::npos, log.c_str());

        Ethercat::Master observer;
        QCOMPARE(observer.ec_init(segment->masterAdapter().c_str()), 1);
        QCOMPARE(observer.ec_detect(), 1);
        QCOMPARE(observer.ec_slave[1].state, uint16_t(Ethercat::PRE_OP));
        QCOMPARE(observer.ec_slave[1].alStatusCode, uint16_t(0));
        observer.ec_close();

        recorder.reset();
        expectCleanDissection(capture);
    }

    // The simulated coupler as another master would drive it, with a bootstrap mailbox of 1024
    // bytes and a file of a size that is no multiple of anything.
    void aStandardMastersSequenceUpdatesTheCoupler()
    {
        std::string error;
        const auto segment = SimEthercat::VethSegment::create(simulatorProgram(), {"--mailbox", "1024"}, error);
        QVERIFY2(segment, error.c_str());
        const QByteArray file = FirmwareBuilder::pattern(70001);
        Ethercat::Master master;
        QCOMPARE(master.ec_init(segment->masterAdapter().c_str()), 1);
        QVERIFY(standardFirmwareDownload(master, "firmware.bin", file));
        master.ec_slave[1].state = Ethercat::INIT;
        master.ec_writestate(1);
        QCOMPARE(master.ec_statecheck(1, Ethercat::INIT, 2000000), uint16_t(Ethercat::INIT));
        master.ec_close();
        QCOMPARE(QByteArray::fromStdString(segment->storedFile()), file);
        const std::string log = segment->simulatorLog();
        QVERIFY2(log.find("boot request") == std::string::npos, log.c_str());
        QVERIFY2(log.find("foe write firmware.bin\n") != std::string::npos, log.c_str());
    }

    // The command line on the same segment: info reads the coupler's identity and state without
    // a state change, then the update writes the file and reports it verified.
    void theCommandLineReadsAndUpdatesTheCoupler()
    {
        std::string error;
        const auto segment = SimEthercat::VethSegment::create(simulatorProgram(), {}, error);
        QVERIFY2(segment, error.c_str());
        const QString cli = SandboxFiles::binaryDirectory() + "/bin/tarnlow-cli";
        const QString adapter = QString::fromStdString(segment->masterAdapter());
        QProcess info;
        info.start(cli, {"info", "ethercat", "--adapter", adapter});
        QVERIFY(info.waitForFinished(30000));
        QCOMPARE(info.exitCode(), 0);
        const QString read = QString::fromUtf8(info.readAllStandardOutput());
        QVERIFY2(read.contains("slave 1: INIT, AL status code 0x0000, vendor 0xE0007A21, product 0x00000702, "
                               "revision 0x00010007"),
                 qPrintable(read));
        QVERIFY2(read.contains("\"Tarnlow simulated EtherCAT coupler\""), qPrintable(read));
        QVERIFY2(segment->simulatorLog().find("al control") == std::string::npos, segment->simulatorLog().c_str());

        const QString path = SandboxFiles::write("cli.bin", FirmwareBuilder::pattern(3000));
        const QString report = SandboxFiles::applicationDirectory() + "/cli-report.json";
        QProcess update;
        update.start(cli, {"ethercat", "--adapter", adapter, "--file", path, "--report", report});
        QVERIFY(update.waitForFinished(60000));
        QCOMPARE(update.exitCode(), 0);
        QCOMPARE(QByteArray::fromStdString(segment->storedFile()), FirmwareBuilder::pattern(3000) + QByteArray(3072 - 3000, char(0xFF)));
        QFile written(report);
        QVERIFY(written.open(QIODevice::ReadOnly));
        // The boot loader offers no read-back: a success is reported as written, not verified.
        const QByteArray record = written.readAll();
        QVERIFY2(record.contains("\"outcome\": \"written\"") && record.contains("\"readBack\": false"), record.constData());
        QVERIFY2(record.contains("\"deviceState\": \"PRE-OP\""), record.constData());
    }

    // An adapter that disappears under the master (a USB adapter pulled) is a capture error,
    // never a frame.
    void aCaptureErrorIsNoFrame()
    {
        std::string error;
        auto segment = SimEthercat::VethSegment::create(simulatorProgram(), {}, error);
        QVERIFY2(segment, error.c_str());
        const auto link = Ethercat::PcapLink::open(segment->masterAdapter());
        QVERIFY(link);
        segment.reset();
        Ethercat::Bytes frame{1, 2, 3};
        QVERIFY(!link->receive(frame, 500000));
        QCOMPARE(frame, (Ethercat::Bytes{1, 2, 3}));
    }

    void aFoeErrorOverRealFramesFailsTheUpdate()
    {
        std::string error;
        const auto segment = SimEthercat::VethSegment::create(
            simulatorProgram(), {"--start-in-boot", "--foe-error", "0x8001", "--foe-error-packet", "2"}, error);
        QVERIFY2(segment, error.c_str());
        SandboxFiles::write("ECAT Firmware/Coupler.BIN", FirmwareBuilder::pattern(1000));
        QSettings().setValue("Settings/nic", QString::fromStdString(segment->masterAdapter()));
        TarnlowECAT page(nullptr, TarnlowTest::environment());
        MessageBoxRecorder boxes;
        QTimer::singleShot(0, page.findChild<QPushButton *>("button_update"), &QPushButton::click);
        QVERIFY(boxes.waitForBoxes(1, 30000));
        QCOMPARE(boxes.last().icon, QMessageBox::Critical);
        QCOMPARE(boxes.last().text, QString("Update Firmware failed."));
        QVERIFY(segment->storedFile().empty());
    }
};

TARNLOW_TEST_MAIN(TestEcatVeth)
#include "test_ecat_veth.moc"
