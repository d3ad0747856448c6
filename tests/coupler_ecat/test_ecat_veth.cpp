// The whole EtherCAT update on real frames: the page and its master on one end of a veth
// pair, the simulated coupler program on the other end inside a network namespace of its
// own, with the product's own time-outs.
#include "coupler_ecat/tarnlow_ecat.h"
#include "ethercat/ethercat_master.h"
#include "ethercat/pcap_link.h"
#include "sim/ethercat_veth_segment.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QPushButton>
#include <QSettings>

#include <pcap/pcap.h>
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

    // A boot loader that needs its bootstrap mailbox (also one of 1024 bytes, in frames of over
    // 1 KiB) and one that keeps the standard mailbox, all started in INIT: the page writes the
    // whole file and the coupler ends in PRE-OP without the error indication, as another master
    // sees it afterwards.
    void theCouplerIsUpdatedOverRealFrames_data()
    {
        QTest::addColumn<QStringList>("bootLoader");
        QTest::newRow("bootstrap mailbox") << QStringList();
        QTest::newRow("bootstrap mailbox of 1024 bytes") << QStringList{"--mailbox", "1024"};
        QTest::newRow("standard mailbox") << QStringList{"--boot-keeps-standard-mailbox"};
    }
    void theCouplerIsUpdatedOverRealFrames()
    {
        QFETCH(QStringList, bootLoader);
        std::vector<std::string> options{"--boot-delay-ms", "300", "--al-control-delay-ms", "3"};
        for (const QString &option : bootLoader)
            options.push_back(option.toStdString());
        std::string error;
        const auto segment = SimEthercat::VethSegment::create(simulatorProgram(), options, error);
        QVERIFY2(segment, error.c_str());
        const QString path = SandboxFiles::write("ECAT Firmware/Coupler.BIN", FirmwareBuilder::pattern(5000));
        const QString adapter = QString::fromStdString(segment->masterAdapter());
        QSettings().setValue("Settings/nic", adapter);

        // Every frame that passes the adapter, both ways, waits in a capture buffer that holds the
        // whole update; afterwards it goes into a file for tshark's dissector.
        char pcapError[PCAP_ERRBUF_SIZE] = "";
        const std::unique_ptr<pcap_t, void (*)(pcap_t *)> sniffer(pcap_create(segment->masterAdapter().c_str(), pcapError), pcap_close);
        QVERIFY2(sniffer && pcap_set_immediate_mode(sniffer.get(), 1) == 0 && pcap_set_snaplen(sniffer.get(), 2048) == 0
                     && pcap_set_buffer_size(sniffer.get(), 64 << 20) == 0 && pcap_activate(sniffer.get()) >= 0
                     && pcap_setnonblock(sniffer.get(), 1, pcapError) == 0, pcapError);
        TarnlowECAT page(nullptr, TarnlowTest::environment());
        auto *adapters = page.findChild<QComboBox *>("comboBox");
        QVERIFY(adapters->currentText().startsWith(adapter + " \u2014 "));
        QCOMPARE(adapters->currentData().toString(), adapter);
        MessageBoxRecorder boxes;
        QTimer::singleShot(0, page.findChild<QPushButton *>("button_update"), &QPushButton::click);
        QVERIFY(boxes.waitForBoxes(1, 30000));
        QCOMPARE(boxes.last().text, QString("Update firmware successfully."));
        QCOMPARE(boxes.last().informative,
                 QString("The coupler left its boot loader with the new firmware written. Its AL state after the run: "
                         "PRE-OP."));
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

        const QString capture = SandboxFiles::applicationDirectory() + "/update.pcap";
        pcap_dumper_t *file = pcap_dump_open(sniffer.get(), capture.toUtf8().constData());
        QVERIFY(file);
        while (pcap_dispatch(sniffer.get(), -1, pcap_dump, reinterpret_cast<u_char *>(file)) > 0) {
        }
        pcap_dump_close(file);
        expectCleanDissection(capture);
    }

    // The command line on the same segment: info reads the coupler's identity and state without
    // a state change, then the update writes the file and reports it written.
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
        // A scan lists the same slaves; the plan names the coupler in a comment, as no file says
        // which slave it is for.
        const QString planPath = SandboxFiles::applicationDirectory() + "/ecat-plan.csv";
        QProcess scan;
        scan.start(cli, {"scan", "ethercat", "--adapter", adapter, "--plan-out", planPath, "--firmware-dir",
                         SandboxFiles::applicationDirectory()});
        QVERIFY(scan.waitForFinished(30000));
        QCOMPARE(scan.exitCode(), 0);
        const QString slave = adapter + " slave 1";
        const int width = std::max(slave.size(), 17) + 2;
        QCOMPARE(QString::fromUtf8(scan.readAllStandardOutput()),
                 QString("ADAPTER AND SLAVE").leftJustified(width) + "PRODUCT CODE  REVISION    STATE  NAME\n"
                     + slave.leftJustified(width) + "0x00000702    0x00010007  INIT   Tarnlow simulated EtherCAT coupler\n"
                     + QStringLiteral("1 slave(s) on %1\nplan %2: 0 line(s) to update, 1 device(s) without firmware in %3\n")
                           .arg(adapter, planPath, SandboxFiles::applicationDirectory()));
        QFile plan(planPath);
        QVERIFY(plan.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(plan.readAll()),
                 QStringLiteral("# devices found by tarnlow-cli scan ethercat --adapter %1; firmware from %2\n"
                                "# %1 slave 1 (product code 0x00000702, \"Tarnlow simulated EtherCAT coupler\"): EtherCAT "
                                "firmware files carry no header that names their device; add \"ethercat, %1, FILE\" by hand\n")
                     .arg(adapter, SandboxFiles::applicationDirectory()));

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
        // What the coupler says it is stands beside the file, with the AL state it was left in.
        const QJsonObject device = QJsonDocument::fromJson(record)["devices"][0]["device"].toObject();
        QCOMPARE(device, (QJsonObject{{"productCode", "0x00000702"},
                                      {"name", "Tarnlow simulated EtherCAT coupler"},
                                      {"alState", "PRE-OP"}}));
        const QString outcomeLine = QString::fromUtf8(update.readAllStandardOutput());
        QVERIFY2(outcomeLine.contains("(product code: the device's 0x00000702 \"Tarnlow simulated EtherCAT coupler\") "
                                      "The coupler left its boot loader with the new firmware written. Its AL state "
                                      "after the run: PRE-OP.\n"),
                 qPrintable(outcomeLine));
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
};

TARNLOW_TEST_MAIN(TestEcatVeth)
#include "test_ecat_veth.moc"
