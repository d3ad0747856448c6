// The whole EtherCAT update on real frames: the page and its master on one end of a veth
// pair, the simulated coupler program on the other end inside a network namespace of its
// own, with the product's own time-outs.
#include "coupler_ecat/tarnlow_ecat.h"
#include "sim/ethercat_veth_segment.h"
#include "tests/support/message_box_recorder.h"
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

QByteArray firmware(int size)
{
    QByteArray bytes(size, 0);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i ^ (i >> 8));
    return bytes;
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

    void theCouplerIsUpdatedOverRealFrames()
    {
        std::string error;
        const auto segment = SimEthercat::VethSegment::create(simulatorProgram(), {"--boot-delay-ms", "300"}, error);
        QVERIFY2(segment, error.c_str());
        const QString path = SandboxFiles::write("ECAT Firmware/Coupler.BIN", firmware(5000));
        const QString adapter = QString::fromStdString(segment->masterAdapter());
        QSettings().setValue("Settings/nic", adapter);

        const QString capture = SandboxFiles::applicationDirectory() + "/update.pcap";
        auto recorder = std::make_unique<FrameCapture>(segment->masterAdapter(), capture.toStdString());
        QVERIFY(recorder->recording());
        TarnlowECAT page;
        auto *adapters = page.findChild<QComboBox *>("comboBox");
        QVERIFY(adapters->currentText().startsWith(adapter + " \u2014 "));
        QCOMPARE(adapters->currentData().toString(), adapter);
        MessageBoxRecorder boxes;
        QTimer::singleShot(0, page.findChild<QPushButton *>("button_update"), &QPushButton::click);
        QVERIFY(boxes.waitForBoxes(1, 30000));
        QCOMPARE(boxes.last().text, QString("Update firmware successfully."));
        QCOMPARE(QByteArray::fromStdString(segment->storedFile()),
                 firmware(5000) + QByteArray(5120 - 5000, char(0xFF)));
        const std::string log = segment->simulatorLog();
        QVERIFY2(log.find("boot request\n") != std::string::npos, log.c_str());
        QVERIFY2(log.find("foe write " + path.toStdString() + "\n") != std::string::npos, log.c_str());
        QVERIFY2(log.find("file stored, 5120 bytes\n") != std::string::npos, log.c_str());
        QVERIFY2(log.find("al control 2\n", log.find("file stored")) != std::string::npos, log.c_str());

        recorder.reset();
        expectCleanDissection(capture);
    }

    void aFoeErrorOverRealFramesFailsTheUpdate()
    {
        std::string error;
        const auto segment = SimEthercat::VethSegment::create(
            simulatorProgram(), {"--start-in-boot", "--foe-error", "0x8001", "--foe-error-packet", "2"}, error);
        QVERIFY2(segment, error.c_str());
        SandboxFiles::write("ECAT Firmware/Coupler.BIN", firmware(1000));
        QSettings().setValue("Settings/nic", QString::fromStdString(segment->masterAdapter()));
        TarnlowECAT page;
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
