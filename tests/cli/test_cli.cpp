// tarnlow-cli run as a technician's script runs it: against the simulator programs, its output
// through a pipe, its report read back, its exit status checked. The runs go through the tests'
// build of the program, which takes the test hooks (a Modbus port found free, shortened waits); the usage
// errors and the EtherCAT runs over the veth pair use the program as it ships.
#include "firmware/hex_image.h"
#include "tests/support/cli_process.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>
#include <QUdpSocket>

#include <csignal>
#include <memory>

namespace {

// Fixed waits shortened for the runs here; the pages' tests keep one run with the real waits.
using CliProcess::kWaitDivisor;
using CliProcess::modbusPort;

QString binary(const QString &name)
{
    return SandboxFiles::binaryDirectory() + "/bin/" + name;
}

QString sample(const QString &folderAndFile)
{
    return SandboxFiles::binaryDirectory() + "/bin/" + folderAndFile;
}

const QString kCouplerFirmware = QStringLiteral("Coupler Firmware/ETN_Coupler_Demo.HEX");

// A simulator program, stopped when the test is done with it.
class Simulator
{
public:
    Simulator(const QString &program, const QStringList &arguments)
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(binary(program), arguments);
        m_ready = m_process.waitForReadyRead(5000);
        m_output = m_process.readAll();
    }
    ~Simulator() { stop(); }
    bool ready() const { return m_ready; }
    QByteArray stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            m_process.waitForFinished(5000);
            m_output += m_process.readAll();
        }
        return m_output;
    }

private:
    QProcess m_process;
    QByteArray m_output;
    bool m_ready = false;
};

std::unique_ptr<Simulator> coupler(const QString &address, const QStringList &extra = {})
{
    return std::make_unique<Simulator>("tarnlow-sim-coupler",
                                       QStringList{"--address", address, "--modbus-port", QString::number(modbusPort()),
                                                   "--restart-ms", "50"} + extra);
}

struct CliRun {
    int status = -1;
    QString out;
    QString err;
    QJsonArray devices;
};

// Runs the command line to its end; `whileRunning` sees the process once it has printed
// something and may signal it.
CliRun runCli(const QStringList &arguments, const std::function<void(QProcess &, QByteArray &)> &whileRunning = {})
{
    const QString report = SandboxFiles::applicationDirectory() + "/report.json";
    QFile::remove(report);
    QProcess cli;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TARNLOW_TEST_MODBUS_PORT", QString::number(modbusPort()));
    environment.insert("TARNLOW_TEST_WAIT_DIVISOR", QString::number(kWaitDivisor));
    cli.setProcessEnvironment(environment);
    const bool updates = arguments.value(0) != QLatin1String("info");
    cli.start(SandboxFiles::binaryDirectory() + "/tests/tarnlow-cli-with-test-hooks",
              updates ? arguments + QStringList{"--report", report} : arguments);
    QByteArray out;
    if (whileRunning && cli.waitForReadyRead(20000)) {
        out += cli.readAllStandardOutput();
        whileRunning(cli, out);
    }
    CliRun run;
    if (!cli.waitForFinished(120000))
        return run;
    run.status = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    run.out = QString::fromUtf8(out + cli.readAllStandardOutput());
    run.err = QString::fromUtf8(cli.readAllStandardError());
    QFile file(report);
    if (file.open(QIODevice::ReadOnly))
        run.devices = QJsonDocument::fromJson(file.readAll()).object().value("devices").toArray();
    return run;
}

QString writePlan(const QString &text)
{
    return SandboxFiles::write("plan.csv", text.toUtf8());
}

QString imageSha256(const QString &path, const HexPageProfile &profile)
{
    HexImage hex(profile);
    hex.fileName = path.toStdString();
    if (!loadHexImage(hex, profile).ok())
        return QString();
    return QCryptographicHash::hash(QByteArray(reinterpret_cast<const char *>(hex.image.data()), hex.imageLength),
                                    QCryptographicHash::Sha256)
        .toHex();
}

}

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    // Three couplers, the third made for another product: the two others are still updated,
    // the report tells each, the exit status says a device failed. The GUI holds its listen port
    // meanwhile: the command line's ports are the system's choice; one taken is named with the
    // option that changes it.
    void aPlanWithOneFailingDevice()
    {
        // Held by this test or, where it fails to bind, by a program that already holds it.
        QUdpSocket gui;
        gui.bind(QHostAddress::AnyIPv4, 23456, QAbstractSocket::DontShareAddress);
        auto first = coupler("127.0.0.111");
        auto second = coupler("127.0.0.112");
        auto other = coupler("127.0.0.113", {"--product-code", "0A31"});
        QVERIFY(first->ready() && second->ready() && other->ready());
        const QString firmware = sample(kCouplerFirmware);
        const QString plan = writePlan(QStringLiteral("# three couplers\ncoupler, 127.0.0.111, %1\n"
                                                      "coupler, 127.0.0.113, %1\ncoupler, 127.0.0.112, %1\n")
                                           .arg(firmware));
        const CliRun run = runCli({"plan", plan});
        QCOMPARE(run.status, 1);
        QCOMPARE(run.devices.size(), 3);
        const QStringList outcomes = {run.devices[0]["outcome"].toString(), run.devices[1]["outcome"].toString(),
                                      run.devices[2]["outcome"].toString()};
        QCOMPARE(outcomes, QStringList({"verified", "failed", "verified"}));
        QCOMPARE(run.devices[0]["message"].toString(), QString("Firmware of Remote IO has beed updated."));
        QCOMPARE(run.devices[1]["message"].toString(), QString("Product Code does not match with the coupler"));
        QCOMPARE(run.devices[1]["detail"].toString(),
                 QString("Register 3004 reads 0x0A31; the file is for product code 0x0702."));
        const QJsonObject verified = run.devices[0].toObject();
        QCOMPARE(verified["imageSha256"].toString(), imageSha256(firmware, HexPageProfile::coupler()));
        QCOMPARE(verified["header"].toObject()["productCode"].toString(), QString("0x0702"));
        QCOMPARE(verified["target"].toObject()["planLine"].toInt(), 2);
        QStringList phases;
        for (const QJsonValue &phase : verified["phases"].toArray())
            phases << phase["name"].toString();
        QCOMPARE(phases, QStringList({"Loading the firmware file", "Opening the listen port",
                                      "Checking the coupler's registers", "Waiting before the run",
                                      "Burning Firmware to Device...", "Reading Flash for comparing...",
                                      "Comparing Data..."}));
        // Not a terminal: plain lines, each with its time.
        for (const QString &line : run.out.split('\n', Qt::SkipEmptyParts))
            QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d ").match(line).hasMatch(), qPrintable(line));
        QVERIFY(run.out.contains("coupler 127.0.0.113: FAILED: Product Code matching error: Product Code does not "
                                 "match with the coupler (Register 3004 reads 0x0A31;"));
        QCOMPARE(run.devices[1]["title"].toString(), QString("Product Code matching error"));
        // Read back where the flash was compared; nothing of the refused coupler was.
        QCOMPARE(run.devices[0]["readBack"].toBool(), true);
        QCOMPARE(run.devices[1]["readBack"].toBool(), false);
        QVERIFY(run.out.contains(QRegularExpression(
            "3 device\\(s\\): 2 verified, 0 written, 1 failed, 0 aborted, 0 not started in \\d+\\.\\d s\n$")));
        QVERIFY(first->stop().contains("flash sealed, started 1 times"));
        QVERIFY(other->stop().contains("started 0 times"));

        const CliRun taken = runCli({"coupler", "--ip", "127.0.0.111", "--file", firmware, "--listen-port", "23456"});
        QCOMPARE(taken.devices[0]["title"].toString(), QString("Port binding failed"));
        QVERIFY2(taken.devices[0]["detail"].toString().endsWith(
                     "Choose another listen port with --listen-port, or 0 to let the system choose one."),
                 qPrintable(taken.devices[0]["detail"].toString()));
    }

    // Two couplers at once, each on a listen port of its own: both verified, their runs overlap
    // (the time saved is measured by the demo's plan, not here).
    void twoJobsRunSideBySide()
    {
        auto first = coupler("127.0.0.114");
        auto second = coupler("127.0.0.115");
        QVERIFY(first->ready() && second->ready());
        const QString plan = writePlan(QStringLiteral("coupler,127.0.0.114,%1\ncoupler,127.0.0.115,%1\n")
                                           .arg(sample(kCouplerFirmware)));
        const CliRun run = runCli({"plan", plan, "--jobs", "2", "--listen-port", "0", "--quiet"});
        QCOMPARE(run.status, 0);
        for (const QJsonValue &device : run.devices)
            QCOMPARE(device["outcome"].toString(), QString("verified"));
        // Side by side: each began before the other ended.
        QVERIFY(run.devices[0]["started"].toString() < run.devices[1]["ended"].toString());
        QVERIFY(run.devices[1]["started"].toString() < run.devices[0]["ended"].toString());
        // Quiet: the two outcome lines and nothing else.
        QCOMPARE(run.out.count('\n'), 2);
        QVERIFY(run.out.startsWith("coupler 127.0.0.11"));
    }

    // The modules go through their coupler: with room for two jobs the module range still waits
    // for the coupler's update. After a failure with --stop-on-failure nothing else starts.
    void sharedCouplersAndStopOnFailure()
    {
        auto shared = coupler("127.0.0.121", {"--modules", "1"});
        auto other = coupler("127.0.0.122", {"--product-code", "0A31"});
        QVERIFY(shared->ready() && other->ready());
        const QString plan = writePlan(QStringLiteral("coupler,127.0.0.121,%1\nmodule,127.0.0.121,1,%2\n")
                                           .arg(sample(kCouplerFirmware), sample("Module Firmware/IO_Module_Demo.HEX")));
        const CliRun both = runCli({"plan", plan, "--jobs", "2", "--listen-port", "0"});
        QCOMPARE(both.status, 0);
        QVERIFY(both.devices[1]["started"].toString() >= both.devices[0]["ended"].toString());

        const QString stopping = writePlan(QStringLiteral("coupler,127.0.0.122,%1\ncoupler,127.0.0.121,%1\n")
                                               .arg(sample(kCouplerFirmware)));
        const CliRun stopped = runCli({"plan", stopping, "--stop-on-failure", "--listen-port", "0"});
        QCOMPARE(stopped.status, 1);
        QCOMPARE(stopped.devices[0]["outcome"].toString(), QString("failed"));
        QCOMPARE(stopped.devices[1]["outcome"].toString(), QString("aborted"));
        QCOMPARE(stopped.devices[1]["message"].toString(), QString("Not started: an earlier device failed."));
        QVERIFY(shared->stop().contains("started 1 times"));
    }

    // Ctrl-C while the pages of the first of two couplers are written: the write stops at the
    // page's safe point (the page it is on, then the checksum as after Abort), nothing is read
    // back or started, the second coupler is not begun; the report still comes, exit status 130.
    void ctrlCWhileWriting()
    {
        auto slow = coupler("127.0.0.116", {"--fault", "delay:write:0:40"});
        auto next = coupler("127.0.0.123");
        QVERIFY(slow->ready() && next->ready());
        const QString plan = writePlan(QStringLiteral("coupler,127.0.0.116,%1\ncoupler,127.0.0.123,%1\n")
                                           .arg(sample(kCouplerFirmware)));
        const CliRun run = runCli({"plan", plan, "--listen-port", "0"}, [](QProcess &cli, QByteArray &out) {
            while (!out.contains(" KiB") && cli.waitForReadyRead(20000))
                out += cli.readAllStandardOutput();
            // processId() is 0 once the program has ended, and kill(0) would signal this whole
            // process group: only a running program is interrupted.
            const qint64 pid = cli.processId();
            if (pid > 0)
                ::kill(pid_t(pid), SIGINT);
        });
        QCOMPARE(run.status, 130);
        QCOMPARE(run.devices.size(), 2);
        QCOMPARE(run.devices[0]["outcome"].toString(), QString("aborted"));
        QCOMPARE(run.devices[1]["outcome"].toString(), QString("aborted"));
        QCOMPARE(run.devices[1]["message"].toString(), QString("Not started: interrupted."));
        QVERIFY(run.devices[1]["started"].isNull());
        QVERIFY(run.out.contains("Interrupted: stopping at a safe point"));
        QVERIFY(run.out.contains("coupler 127.0.0.123: aborted: Not started: interrupted."));
        // The line and the record say where it stopped and what the coupler runs now.
        const QString inBootLoader = "The coupler is in its boot loader, its firmware erased or incomplete: run the "
                                     "update again.";
        QVERIFY2(run.out.contains("coupler 127.0.0.116: aborted: Stopped while \"Burning Firmware to Device...\". " + inBootLoader),
                 qPrintable(run.out));
        QCOMPARE(run.devices[0]["deviceState"].toString(), inBootLoader);
        QCOMPARE(run.devices[0]["stoppedIn"].toString(), QString("Burning Firmware to Device..."));
        // The run passes through the read-back's label without reading a page.
        QVERIFY(!run.out.contains(QRegularExpression("Reading Flash for comparing\\.\\.\\.  \\d")));
        // info finds it at its boot port, though its Modbus server is gone with its firmware.
        const CliRun asked = runCli({"info", "coupler", "--ip", "127.0.0.116"});
        QCOMPARE(asked.status, 1);
        QVERIFY2(asked.out.contains("boot port 10275: the coupler is in its boot loader, its firmware erased or "
                                    "incomplete: run the update again\n"),
                 qPrintable(asked.out));
        const QByteArray simulator = slow->stop();
        QVERIFY2(simulator.contains("started 0 times"), simulator.constData());
        QVERIFY(next->stop().contains("started 0 times"));
    }

    // A second Ctrl-C ends the run at once, the report still written: the device that ran is
    // recorded as interrupted, what it runs not known.
    void aSecondCtrlCStillWritesTheReport()
    {
        // Each page and both checksum steps answered late, within the reply window: the run takes
        // a while to reach its end after the first Ctrl-C.
        auto slow = coupler("127.0.0.119", {"--fault", "delay:write:0:120", "--fault", "delay:step1:0:120",
                                            "--fault", "delay:step2:0:120"});
        QVERIFY(slow->ready());
        const QString plan = writePlan(QStringLiteral("coupler,127.0.0.119,%1\n").arg(sample(kCouplerFirmware)));
        const CliRun run = runCli({"plan", plan}, [](QProcess &cli, QByteArray &out) {
            while (!out.contains(" KiB") && cli.waitForReadyRead(20000))
                out += cli.readAllStandardOutput();
            const qint64 pid = cli.processId();
            if (pid <= 0)
                return;
            ::kill(pid_t(pid), SIGINT);
            // Two signals sent at once may arrive as one: the second goes once the first was seen.
            while (!out.contains("Interrupted: stopping") && cli.waitForReadyRead(20000))
                out += cli.readAllStandardOutput();
            ::kill(pid_t(pid), SIGINT);
        });
        QCOMPARE(run.status, 130);
        QVERIFY(run.out.contains("Interrupted again: the report is written"));
        QCOMPARE(run.devices.size(), 1);
        QCOMPARE(run.devices[0]["outcome"].toString(), QString("aborted"));
        QCOMPARE(run.devices[0]["message"].toString(),
                 QString("Interrupted again while it ran: what it runs now is not known; run its update again."));
        slow->stop();
    }

    // A plan with a line that cannot be a device ends before anything is sent.
    void aBadPlanLineSendsNothing()
    {
        auto watched = coupler("127.0.0.117");
        QVERIFY(watched->ready());
        const QString plan = writePlan(QStringLiteral("coupler,127.0.0.117,%1\nmodule,127.0.0.117,0-2,%1\n")
                                           .arg(sample(kCouplerFirmware)));
        const CliRun run = runCli({"plan", plan});
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains("plan.csv line 2: the modules 0-2 are not a range within 1-16"), qPrintable(run.err));
        QVERIFY(run.devices.isEmpty());

        // Every firmware file is loaded first, and every one that would not go is named.
        const QString files = writePlan(QStringLiteral("coupler,127.0.0.117,%1\ncanopen,COM3,5,missing.HEX\n"
                                                       "ethercat,eth9,%1\n").arg(sample(kCouplerFirmware)));
        const CliRun unloaded = runCli({"plan", files});
        QCOMPARE(unloaded.status, 2);
        QVERIFY2(unloaded.err.contains(QRegularExpression("plan.csv line 2: the firmware file \\S*/missing.HEX does not "
                                                          "load: File does not exist.\n")),
                 qPrintable(unloaded.err));
        QVERIFY2(unloaded.err.contains(QRegularExpression("plan.csv line 3: The file .*\\.HEX is an encrypted HEX file")),
                 qPrintable(unloaded.err));
        QVERIFY(watched->stop().contains("started 0 times"));
    }

    // A range is recorded module by module: a technician sees which were written and started
    // and which still need the update.
    void modulesBehindACoupler()
    {
        auto withModules = coupler("127.0.0.118", {"--modules", "3", "--module-fault", "2:flip-bit=100"});
        QVERIFY(withModules->ready());
        const CliRun run = runCli({"module", "--ip", "127.0.0.118", "--first", "1", "--last", "3", "--file",
                                   sample("Module Firmware/IO_Module_Demo.HEX")});
        QCOMPARE(run.status, 1);
        QCOMPARE(run.devices.size(), 3);
        const QStringList outcomes = {"verified", "failed", "aborted"};
        for (int module = 1; module <= 3; ++module) {
            const QJsonObject target = run.devices[module - 1]["target"].toObject();
            QCOMPARE(target["firstModule"].toInt(), module);
            QCOMPARE(target["lastModule"].toInt(), module);
            QCOMPARE(run.devices[module - 1]["outcome"].toString(), outcomes[module - 1]);
        }
        QCOMPARE(run.devices[0]["message"].toString(),
                 QString("Burning firmware successful. Firmware of module 1 has been updated."));
        QCOMPARE(run.devices[0]["readBack"].toBool(), true);
        QCOMPARE(run.devices[1]["message"].toString(),
                 QString("Burning Firmware to module 2 Failed. Comparison is NOT equal. Content is different "
                         "between local file and flash."));
        QCOMPARE(run.devices[1]["deviceState"].toString(),
                 QString("Module 2 is in its boot loader, its firmware erased or incomplete: run the update again."));
        QCOMPARE(run.devices[2]["message"].toString(), QString("Not started: the run of the range ended with module 2."));
        QCOMPARE(run.devices[2]["started"], QJsonValue());
        QCOMPARE(run.devices[2]["readBack"].toBool(), false);
        QVERIFY2(run.out.contains("module 1 behind 127.0.0.118: verified: Burning firmware successful. Firmware of "
                                  "module 1 has been updated. Module 1 runs the new firmware.\n"),
                 qPrintable(run.out));
        QVERIFY2(run.out.contains("module 3 behind 127.0.0.118: aborted: Not started: the run of the range ended with "
                                  "module 2. Module 3 was not touched: it runs the firmware it ran before.\n"),
                 qPrintable(run.out));
        QVERIFY(run.out.contains("3 device(s): 1 verified, 0 written, 1 failed, 0 aborted, 1 not started"));
        // Each module's record holds its own phases.
        const QJsonArray second = run.devices[1]["phases"].toArray();
        QCOMPARE(second.first()["name"].toString(), QString("Burning Firmware to module 2..."));
    }

    void aCanopenCouplerOnADevicePath()
    {
        const QString link = SandboxFiles::applicationDirectory() + "/canopen-link";
        Simulator simulator("tarnlow-sim-canopen", {"--link", link, "--node", "5"});
        QVERIFY(simulator.ready());
        const CliRun run = runCli({"canopen", "--port", link, "--node", "5", "--file",
                                   sample("COP Firmware/COP_Coupler_Demo.HEX")});
        QCOMPARE(run.devices[0]["outcome"].toString(), QString("verified"));
        QCOMPARE(run.status, 0);
        // What the coupler says it is stands beside the file's header, and a difference is warned of.
        QCOMPARE(run.devices[0]["device"].toObject()["productCode"].toString(), QString("0x00000C01"));
        const QString fileCode = run.devices[0]["header"].toObject()["productCode"].toString();
        QVERIFY(run.out.contains(QStringLiteral("(product code: the file's %1, the device's 0x00000C01)").arg(fileCode)));
        QVERIFY(!run.err.contains("warning"));
        const CliRun other = runCli({"canopen", "--port", link, "--node", "5", "--file", sample(kCouplerFirmware)});
        QVERIFY2(other.err.contains("warning: CANopen node 5 on " + link + " says product code 0x00000C01; the file "),
                 qPrintable(other.err));
        QVERIFY(other.err.contains("is for product code 0x0702"));
        const CliRun missing = runCli({"canopen", "--port", link + "-gone", "--file",
                                       sample("COP Firmware/COP_Coupler_Demo.HEX")});
        QCOMPARE(missing.status, 1);
        QCOMPARE(missing.devices[0]["message"].toString(), QString("Does there has other application lock the COM port?"));
    }

    // info reads and changes nothing: the coupler's registers and its modules up to the first
    // that does not answer; the CANopen identity object and which program runs.
    void infoOnACouplerAndACanopenCoupler()
    {
        auto withModules = coupler("127.0.0.119", {"--modules", "2", "--module-product-code", "0A32"});
        QVERIFY(withModules->ready());
        const CliRun couplerInfo = runCli({"info", "coupler", "--ip", "127.0.0.119"});
        QCOMPARE(couplerInfo.status, 0);
        QCOMPARE(couplerInfo.out, QString("coupler 127.0.0.119\n"
                                          "product code (register 3004): 0x0702\n"
                                          "hardware version (register 3006): 0x1000\n"
                                          "module 1: product code 0x0A32, hardware version 0x1000\n"
                                          "module 2: product code 0x0A32, hardware version 0x1000\n"
                                          "module 3: register 30200 not read: Illegal data address\n"));
        // The same facts for a program.
        const CliRun couplerJson = runCli({"info", "coupler", "--ip", "127.0.0.119", "--first", "2", "--last", "3", "--json"});
        QCOMPARE(couplerJson.status, 0);
        QCOMPARE(QJsonDocument::fromJson(couplerJson.out.toUtf8()).object(),
                 (QJsonObject{{"coupler", "127.0.0.119"}, {"productCode", "0x0702"}, {"hardwareVersion", "0x1000"},
                              {"modules", QJsonArray{QJsonObject{{"module", 2}, {"productCode", "0x0A32"},
                                                                 {"hardwareVersion", "0x1000"}},
                                                     QJsonObject{{"module", 3},
                                                                 {"failure", "register 30200 not read: Illegal data "
                                                                             "address"}}}}}));
        QVERIFY(withModules->stop().contains("started 0 times"));

        const QString link = SandboxFiles::applicationDirectory() + "/canopen-info";
        Simulator canopen("tarnlow-sim-canopen", {"--link", link, "--node", "9", "--boot"});
        QVERIFY(canopen.ready());
        const CliRun canopenInfo = runCli({"info", "canopen", "--port", link, "--node", "9"});
        QCOMPARE(canopenInfo.status, 0);
        QCOMPARE(canopenInfo.out, QString("CANopen node 9 on %1\n"
                                          "vendor-ID (0x1018 sub 1): 0xE0007A21\n"
                                          "product code (0x1018 sub 2): 0x00000C01\n"
                                          "revision number (0x1018 sub 3): 0x00010003\n"
                                          "serial number (0x1018 sub 4): 0x00004711\n"
                                          "running (0x5101): boot loader (0x626F6F74)\n").arg(link));
        const CliRun canopenJson = runCli({"info", "canopen", "--port", link, "--node", "9", "--json"});
        QCOMPARE(QJsonDocument::fromJson(canopenJson.out.toUtf8()).object()["product code"].toString(),
                 QString("0x00000C01"));
        const CliRun unreachable = runCli({"info", "coupler", "--ip", "127.0.0.120"});
        QCOMPARE(unreachable.status, 1);
        QVERIFY2(unreachable.err.startsWith(QString("tarnlow-cli: Modbus TCP 127.0.0.120:%1: ").arg(modbusPort())), qPrintable(unreachable.err));
    }

    // The program as it ships.
    void usageErrorsExitWithTwo()
    {
        const auto shipped = [](const QStringList &arguments) {
            QProcess cli;
            cli.start(binary("tarnlow-cli"), arguments);
            cli.waitForFinished(20000);
            return std::make_pair(cli.exitCode(), QString::fromUtf8(cli.readAllStandardOutput() + cli.readAllStandardError()));
        };
        const auto noAddress = shipped({"coupler", "--file", "x.HEX"});
        QCOMPARE(noAddress.first, 2);
        QVERIFY(noAddress.second.startsWith("tarnlow-cli: \"\" is not an IPv4 address"));
        QCOMPARE(shipped({"erase"}).first, 2);
        const QString report = SandboxFiles::applicationDirectory() + "/no-such-folder/report.json";
        const auto unwritableReport = shipped({"coupler", "--ip", "10.0.0.1", "--file", "x.HEX", "--report", report});
        QCOMPARE(unwritableReport.first, 2);
        QVERIFY2(unwritableReport.second.contains("the report cannot be written to " + report), qPrintable(unwritableReport.second));
        const auto help = shipped({"--help"});
        QCOMPARE(help.first, 0);
        QVERIFY(help.second.contains("tarnlow-cli plan fleet.csv"));
        QCOMPARE(shipped({"coupler", "--help-all"}).first, 0);
    }
};

TARNLOW_TEST_MAIN(TestCli)
#include "test_cli.moc"
