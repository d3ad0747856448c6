// tarnlow-cli scan against simulated devices: a fleet of couplers on loopback addresses found by
// one scan, read and left as they were, then updated by the plan the scan wrote; the CANopen
// nodes of a serial port asked one by one. The devices run in this program; the scans and the
// plan run in the tests' build of tarnlow-cli (the Modbus port found free, shortened waits).
#include "cli/plan_file.h"
#include "coupler_can/boot_loader_objects.h"
#include "core/hex_text.h"
#include "history/update_history.h"
#include "sim/canopen_pty_server.h"
#include "sim/module_bank.h"
#include "sim/simulated_coupler.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/cli_process.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int kFleetSize = 64;

using CliProcess::modbusPort;
using CliRun = CliProcess::Run;

CliRun runCli(const QStringList &arguments)
{
    return CliProcess::run(arguments);
}

std::unique_ptr<SimulatedCoupler> startCoupler(SimulatedCouplerSetup setup)
{
    setup.modbusPort = modbusPort();
    setup.restartMs = 50;
    auto coupler = std::make_unique<SimulatedCoupler>(setup);
    std::string failure;
    return coupler->start(failure) ? std::move(coupler) : nullptr;
}

QString fleetAddress(int index)
{
    return QStringLiteral("127.0.3.%1").arg(index + 1);
}

QString sample(const QString &folderAndFile)
{
    return SandboxFiles::binaryDirectory() + "/bin/" + folderAndFile;
}

// A firmware folder in the sandbox holding `files` (name and content).
QString firmwareFolder(const QString &name, const QList<QPair<QString, QByteArray>> &files)
{
    for (const auto &file : files)
        SandboxFiles::write(name + "/" + file.first, file.second);
    return SandboxFiles::applicationDirectory() + "/" + name;
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString lineFor(const QString &address, const QString &productCode, const QString &hardwareVersion, const QString &modules)
{
    // The address column is as wide as 127.0.3.200, the longest address found.
    return QStringLiteral("%1  %2  %3  %4").arg(address.leftJustified(11), productCode.leftJustified(12),
                                                hardwareVersion.leftJustified(16), modules);
}

}

class TestCliScan : public QObject
{
    Q_OBJECT

private slots:
    // 64 couplers, the first with two modules behind it, and one of another product on .200, in
    // a /24 whose other addresses refuse: one scan finds exactly those 65, reading registers
    // only. The plan it writes from the demo firmware updates the 64 and their modules, and
    // names the other in a comment.
    void aFleetFoundAndUpdatedByItsPlan()
    {
        ModuleBank modules(2);
        for (int module = 1; module <= 2; ++module)
            modules.setModule(module, {0x0A31, 0x1000, false});
        std::vector<std::unique_ptr<SimulatedCoupler>> fleet;
        for (int index = 0; index < kFleetSize; ++index) {
            SimulatedCouplerSetup setup;
            setup.address = fleetAddress(index).toStdString();
            setup.modules = index == 0 ? &modules : nullptr;
            fleet.push_back(startCoupler(setup));
            QVERIFY2(fleet.back(), setup.address.c_str());
        }
        SimulatedCouplerSetup otherSetup;
        otherSetup.address = "127.0.3.200";
        otherSetup.productCode = 0x0999;
        otherSetup.hardwareVersion = 0x2000;
        const auto other = startCoupler(otherSetup);
        QVERIFY(other);

        const CliRun scan = runCli({"scan", "coupler", "127.0.3.0/24"});
        QCOMPARE(scan.err, QString());
        QCOMPARE(scan.status, 0);
        QStringList expected = {lineFor("ADDRESS", "PRODUCT CODE", "HARDWARE VERSION", "MODULES (PRODUCT CODE/HARDWARE VERSION)"),
                                lineFor("127.0.3.1", "0x0702", "0x1000", "0x0A31/0x1000, 0x0A31/0x1000")};
        for (int index = 1; index < kFleetSize; ++index)
            expected << lineFor(fleetAddress(index), "0x0702", "0x1000", "none");
        expected << lineFor("127.0.3.200", "0x0999", "0x2000", "none")
                 << QStringLiteral("65 coupler(s) found in 127.0.3.0/24: 254 address(es) tried on port %1, 189 refused "
                                   "or did not answer").arg(modbusPort());
        QCOMPARE(scan.out, expected.join('\n') + '\n');
        // Read, nothing written: no boot request, no module selected.
        for (const auto &coupler : fleet)
            QVERIFY(coupler->bootLoader().requests().empty());
        QVERIFY(modules.requests().empty());
        QCOMPARE(modules.registerReads(), std::vector<int>({30000, 30001, 30100, 30101, 30200}));

        // The same for a program: info's objects, the closing line kept off the JSON.
        const CliRun json = runCli({"scan", "coupler", "127.0.3.0/24", "--json"});
        QCOMPARE(json.status, 0);
        const QJsonArray devices = QJsonDocument::fromJson(json.out.toUtf8()).array();
        QCOMPARE(devices.size(), 65);
        QCOMPARE(devices[0].toObject(),
                 (QJsonObject{{"coupler", "127.0.3.1"}, {"productCode", "0x0702"}, {"hardwareVersion", "0x1000"},
                              {"modules", QJsonArray{QJsonObject{{"module", 1}, {"productCode", "0x0A31"}, {"hardwareVersion", "0x1000"}},
                                                     QJsonObject{{"module", 2}, {"productCode", "0x0A31"}, {"hardwareVersion", "0x1000"}},
                                                     QJsonObject{{"module", 3}, {"failure", "register 30200 not read: Illegal data address"}}}}}));
        QCOMPARE(devices[64]["coupler"].toString(), QString("127.0.3.200"));
        QVERIFY(json.err.startsWith("65 coupler(s) found in 127.0.3.0/24"));

        const QString folder = firmwareFolder("fleet-firmware", {{"ETN_Coupler_Demo.HEX", contentOf(sample("Coupler Firmware/ETN_Coupler_Demo.HEX"))},
                                                                 {"IO_Module_Demo.HEX", contentOf(sample("Module Firmware/IO_Module_Demo.HEX"))}});
        const QString planPath = SandboxFiles::applicationDirectory() + "/fleet.csv";
        const CliRun planned = runCli({"scan", "coupler", "127.0.3.0/24", "--plan-out", planPath, "--firmware-dir", folder});
        QCOMPARE(planned.status, 0);
        QVERIFY2(planned.out.endsWith(QStringLiteral("plan %1: 65 line(s) to update, 1 device(s) without firmware in %2\n")
                                          .arg(planPath, folder)),
                 qPrintable(planned.out));
        QStringList plan = {QStringLiteral("# devices found by tarnlow-cli scan coupler 127.0.3.0/24; firmware from ") + folder,
                            QStringLiteral("coupler, 127.0.3.1, %1/ETN_Coupler_Demo.HEX").arg(folder),
                            QStringLiteral("module, 127.0.3.1, 1-2, %1/IO_Module_Demo.HEX").arg(folder)};
        for (int index = 1; index < kFleetSize; ++index)
            plan << QStringLiteral("coupler, %1, %2/ETN_Coupler_Demo.HEX").arg(fleetAddress(index), folder);
        plan << QStringLiteral("# 127.0.3.200: no firmware in %1 for product code 0x0999, hardware version 0x2000").arg(folder);
        QCOMPARE(QString::fromUtf8(contentOf(planPath)), plan.join('\n') + '\n');
        const PlanParse parsed = readPlanFile(planPath);
        QCOMPARE(parsed.error, QString());
        QCOMPARE(parsed.jobs.size(), 65);
        QCOMPARE(parsed.jobs[1].target(), QString("modules 1-2 behind 127.0.3.1"));

        const CliRun update = runCli({"plan", planPath, "--jobs", "16", "--listen-port", "0", "--quiet"});
        QVERIFY2(update.status == 0, qPrintable(update.out + update.err));
        // Quiet: an outcome line for each coupler and each module.
        QCOMPARE(update.out.count(": verified: "), kFleetSize + 2);
        for (const auto &coupler : fleet) {
            QVERIFY(coupler->bootLoader().sealed());
            QCOMPARE(coupler->bootLoader().startCount(), 1);
        }
        QCOMPARE(modules.startCount(1), 1);
        QCOMPARE(modules.startCount(2), 1);
        QCOMPARE(other->bootLoader().startCount(), 0);
        // The history holds one entry for each coupler and each module, each verified.
        UpdateHistory history;
        QList<HistoryEntry> entries = history.list({}).value_or(QList<HistoryEntry>());
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [](const HistoryEntry &entry) { return !entry.ip.startsWith("127.0.3."); }),
                      entries.end());
        QSet<QString> targets;
        for (const HistoryEntry &entry : entries) {
            QCOMPARE(entry.outcome, QString("verified"));
            targets.insert(entry.target);
        }
        QCOMPARE(entries.size(), kFleetSize + 2);
        QCOMPARE(targets.size(), kFleetSize + 2);
        QVERIFY(targets.contains("module 2 behind 127.0.3.1"));
    }

    // One address: of two fitting files the name sorted last is taken and the other named; a
    // file for version 2 hardware does not fit, one that does not load is left out and told.
    void theFileTakenOfSeveralThatFit()
    {
        SimulatedCouplerSetup setup;
        setup.address = "127.0.4.1";
        const auto coupler = startCoupler(setup);
        QVERIFY(coupler);
        const QByteArray image = FirmwareBuilder::pattern(4096);
        const QString folder = firmwareFolder("several", {{"ETN_Coupler_A.HEX", FirmwareBuilder::encryptedHex(image, "0702, V1, X=TRUE")},
                                                          {"ETN_Coupler_B.hex", FirmwareBuilder::encryptedHex(image, "0702, V1, X=TRUE")},
                                                          {"ETN_V2.HEX", FirmwareBuilder::encryptedHex(image, "0702, V2, X=TRUE")},
                                                          {"broken.HEX", "not a firmware file"},
                                                          {"notes.txt", "0702, V1"}});
        const QString planPath = SandboxFiles::applicationDirectory() + "/one.csv";
        const CliRun run = runCli({"scan", "coupler", "127.0.4.1/32", "--plan-out", planPath, "--firmware-dir", folder});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.err, QStringLiteral("tarnlow-cli: left out of the plan: the firmware file %1/broken.HEX does not load: "
                                         "File format error.\n").arg(folder));
        QCOMPARE(QString::fromUtf8(contentOf(planPath)),
                 QStringLiteral("# devices found by tarnlow-cli scan coupler 127.0.4.1/32; firmware from %1\n"
                                "# 127.0.4.1: fitting too: ETN_Coupler_A.HEX; ETN_Coupler_B.hex, the name sorted last, is taken\n"
                                "coupler, 127.0.4.1, %1/ETN_Coupler_B.hex\n").arg(folder));
        QVERIFY2(run.out.startsWith("ADDRESS    PRODUCT CODE  HARDWARE VERSION  MODULES (PRODUCT CODE/HARDWARE VERSION)\n"
                                    "127.0.4.1  0x0702        0x1000            none\n"
                                    "1 coupler(s) found in 127.0.4.1/32: 1 address(es) tried on port "),
                 qPrintable(run.out));
        // Nothing found is a failure of the scan, told by its exit status.
        const CliRun empty = runCli({"scan", "coupler", "127.0.4.2/32"});
        QCOMPARE(empty.status, 1);
        QCOMPARE(empty.out, QStringLiteral("0 coupler(s) found in 127.0.4.2/32: 1 address(es) tried on port %1, 1 refused "
                                           "or did not answer\n").arg(modbusPort()));
    }

    // The node IDs 1 to 127 asked once each: the simulated coupler answers its own, node 42,
    // and is then read as info reads it. The plan takes the file whose header names its product
    // code, not the demo file, whose header names none, and updates it.
    void aCanopenNodeFoundAndUpdatedByItsPlan()
    {
        const QString link = SandboxFiles::applicationDirectory() + "/canopen-scan";
        CanopenPtyServer server(42, false);
        QVERIFY2(server.start(link.toStdString()), server.error().c_str());
        const QString folder = firmwareFolder("canopen-firmware",
                                              {{"COP_0C01.HEX", FirmwareBuilder::encryptedHex(FirmwareBuilder::pattern(2048), "0C01, V1, X=TRUE")},
                                               {"COP_Coupler_Demo.HEX", contentOf(sample("COP Firmware/COP_Coupler_Demo.HEX"))}});
        const QString planPath = SandboxFiles::applicationDirectory() + "/canopen.csv";
        const CliRun scan = runCli({"scan", "canopen", "--port", link, "--plan-out", planPath, "--firmware-dir", folder});
        QCOMPARE(scan.err, QString());
        QCOMPARE(scan.status, 0);
        const QString node = link + " node 42";
        const int width = node.size() + 2;
        QCOMPARE(scan.out, QString("PORT AND NODE").leftJustified(width) + "PRODUCT CODE  REVISION    RUNNING\n"
                               + node.leftJustified(width) + "0x00000C01    0x00010003  user firmware ("
                               + hexText(BootLoaderObjects::UserFirmwareSignature, 8) + ")\n"
                               + QStringLiteral("1 node(s) found on %1: node IDs 1 to 127 asked, 126 did not answer\n"
                                                "plan %2: 1 line(s) to update, 0 device(s) without firmware in %3\n")
                                     .arg(link, planPath, folder));
        // 127 questions, then info's four identity reads and the mode signature of node 42.
        int requests = 0;
        server.withCoupler([&requests](CanopenSimulatedCoupler &coupler) { requests = int(coupler.requests().size()); });
        QCOMPARE(requests, 127 + 5);
        QCOMPARE(QString::fromUtf8(contentOf(planPath)),
                 QStringLiteral("# devices found by tarnlow-cli scan canopen --port %1; firmware from %2\n"
                                "canopen, %1, 42, %2/COP_0C01.HEX\n").arg(link, folder));
        const CliRun update = runCli({"plan", planPath, "--quiet"});
        QVERIFY2(update.status == 0, qPrintable(update.out + update.err));
        bool verified = false;
        server.withCoupler([&verified](CanopenSimulatedCoupler &coupler) { verified = coupler.verified(); });
        QVERIFY(verified);
    }

    // A reply that comes after the node's wait is not taken for the next node's answer.
    void aLateReplyIsNoOtherNodesAnswer()
    {
        const QString link = SandboxFiles::applicationDirectory() + "/canopen-late";
        CanopenPtyServer server(42, false);
        QVERIFY2(server.start(link.toStdString()), server.error().c_str());
        CanopenPtyServer::Timing late;
        late.replyDelayUs = 80000;
        server.setTiming(late);
        const CliRun scan = runCli({"scan", "canopen", "--port", link, "--json"});
        QCOMPARE(scan.status, 1);
        QCOMPARE(scan.out, QString("[\n]\n"));
        QCOMPARE(scan.err, QStringLiteral("0 node(s) found on %1: node IDs 1 to 127 asked, 127 did not answer\n").arg(link));
    }

    // The range is refused before anything is sent, by the program as it ships.
    void aRangeLargerThanASlash16IsAUsageError()
    {
        const CliRun refused = CliProcess::run({"scan", "coupler", "10.0.0.0/15"}, CliProcess::Build::AsShipped);
        QCOMPARE(refused.status, 2);
        QCOMPARE(refused.err,
                 QString("tarnlow-cli: 10.0.0.0/15 holds 131072 addresses; a scan takes a /16 (65,536 addresses) at "
                         "most, so that a mistyped prefix does not set off hours of connection attempts: scan it as "
                         "several /16 ranges\nTry 'tarnlow-cli --help'.\n"));
    }
};

TARNLOW_TEST_MAIN(TestCliScan)
#include "test_cli_scan.moc"
