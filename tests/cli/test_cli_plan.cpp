// Plan files and command lines: what is accepted, and the message that names a bad line; the
// firmware files a plan names, loaded once for all its devices.
#include "cli/adapter_warning.h"
#include "cli/command_line.h"
#include "cli/firmware_files.h"
#include "cli/plan_file.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QtTest>

#include <thread>
#include <vector>

class TestCliPlan : public QObject
{
    Q_OBJECT

private slots:
    // A fleet's devices share one image, whichever of their threads asks first; a file that
    // does not load gives every device the same refusal.
    void aFileTakenByManyDevicesIsLoadedOnce()
    {
        FirmwareFiles files;
        DeviceJob job;
        job.firmwareFile = SandboxFiles::binaryDirectory() + "/bin/Coupler Firmware/ETN_Coupler_Demo.HEX";
        std::vector<LoadedHex> loaded(8);
        std::vector<std::thread> devices;
        for (LoadedHex &each : loaded)
            devices.emplace_back([&files, &job, &each] { each = files.hexFor(job); });
        for (std::thread &device : devices)
            device.join();
        QVERIFY(loaded[0].hex && loaded[0].result.ok());
        QCOMPARE(loaded[0].hex->imageLength, 8192);
        QCOMPARE(loaded[0].imageSha256.size(), 64);
        for (const LoadedHex &each : loaded)
            QCOMPARE(each.hex.get(), loaded[0].hex.get());
        DeviceJob module = job;
        module.kind = DeviceKind::Module;   // another page's profile: a load of its own
        QVERIFY(files.hexFor(module).hex.get() != loaded[0].hex.get());
        job.firmwareFile += ".missing";
        QVERIFY(!files.hexFor(job).hex);
        QCOMPARE(int(files.hexFor(job).result.error), int(HexLoadError::CannotOpen));
    }

    void everyKindOfLineWithCommentsAndRelativePaths()
    {
        const PlanParse plan = parsePlan("# fleet of hall 3\n"
                                         "coupler, 192.168.1.10, fw/ETN.HEX\n"
                                         "\n"
                                         "  module,192.168.1.10, 2-16, /abs/IO.HEX, advance\n"
                                         "module, 192.168.1.11, 7, IO.HEX\n"
                                         "canopen, COM3, 5, COP.HEX\n"
                                         "ethercat, eth1, ECAT.bin\n",
                                         "/plans/hall3.csv");
        QCOMPARE(plan.error, QString());
        QCOMPARE(plan.jobs.size(), 5);
        QCOMPARE(plan.jobs[0].firmwareFile, QString("/plans/fw/ETN.HEX"));
        QCOMPARE(plan.jobs[0].planLine, 2);
        QCOMPARE(plan.jobs[1].target(), QString("modules 2-16 behind 192.168.1.10"));   // 16, the last there is
        QVERIFY(plan.jobs[1].advanceMode);
        QCOMPARE(plan.jobs[1].firmwareFile, QString("/abs/IO.HEX"));
        QCOMPARE(plan.jobs[2].lastModule, 7);
        QCOMPARE(plan.jobs[3].target(), QString("CANopen node 5 on COM3"));
        QCOMPARE(plan.jobs[4].resource(), QString("adapter:eth1"));
        // The coupler and the modules behind it share one resource: they never run at once.
        QCOMPARE(plan.jobs[0].resource(), plan.jobs[1].resource());
    }

    void aBadLineIsNamedAndNothingIsKept_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("why");
        QTest::newRow("address") << "coupler, 192.168.1, a.HEX" << "\"192.168.1\" is not an IPv4 address";
        QTest::newRow("range") << "module, 10.0.0.1, 5-3, a.HEX" << "the modules 5-3 are not a range within 1-16";
        QTest::newRow("beyond 16") << "module, 10.0.0.1, 1-17, a.HEX" << "the modules 1-17 are not a range within 1-16";
        QTest::newRow("node") << "canopen, COM1, 128, a.HEX" << "the node 128 is not between 1 and 127";
        QTest::newRow("kind") << "printer, 10.0.0.1, a.HEX" << "expected coupler,IP,FILE";
        QTest::newRow("fields") << "coupler, 10.0.0.1" << "expected coupler,IP,FILE";
        QTest::newRow("advance") << "module, 10.0.0.1, 1, a.HEX, fast" << "the fifth field may only be \"advance\"";
    }
    void aBadLineIsNamedAndNothingIsKept()
    {
        QFETCH(QString, line);
        QFETCH(QString, why);
        const PlanParse plan = parsePlan("coupler, 10.0.0.2, ok.HEX\n# note\n" + line + "\ncoupler, 10.0.0.300, x\n",
                                         "p.csv");
        QVERIFY2(plan.error.startsWith("p.csv line 3: " + why), qPrintable(plan.error));
        // Every bad line is named.
        QVERIFY(plan.error.endsWith(line + "\np.csv line 4: \"10.0.0.300\" is not an IPv4 address: coupler, 10.0.0.300, x"));
        QVERIFY(plan.jobs.isEmpty());
    }

    void anEmptyPlanIsAUsageError()
    {
        QCOMPARE(parsePlan("# nothing\n\n", "p.csv").error, QString("p.csv: the plan names no device"));
    }

    void commandLinesOfEachVerb()
    {
        Command module = parseCommandLine({"tarnlow-cli", "module", "--ip", "10.0.0.1", "--first", "3", "--file", "IO.HEX"});
        QCOMPARE(module.usageError, QString());
        QCOMPARE(module.jobs.value(0).lastModule, 3);
        Command canopen = parseCommandLine({"tarnlow-cli", "canopen", "--port", "/dev/pts/4", "--file", "C.HEX"});
        QCOMPARE(canopen.jobs.value(0).node, 1);
        // The node IDs run from 1 to 127, both ends included.
        QCOMPARE(parseCommandLine({"tarnlow-cli", "canopen", "--port", "COM3", "--node", "127", "--file", "C.HEX"})
                     .usageError,
                 QString());
        QCOMPARE(parseCommandLine({"tarnlow-cli", "coupler", "--file", "a.HEX"}).usageError,
                 QString("\"\" is not an IPv4 address"));
        QCOMPARE(parseCommandLine({"tarnlow-cli", "module", "--ip", "10.0.0.1", "--first", "x", "--file", "a"}).usageError,
                 QString("--first takes a number"));
        QCOMPARE(parseCommandLine({"tarnlow-cli", "ethercat", "--adapter", "eth0"}).usageError,
                 QString("no firmware file named"));
        QCOMPARE(parseCommandLine({"tarnlow-cli", "flash"}).usageError, QString("unknown verb \"flash\""));
        // The coupler's own boot port cannot take the replies, neither as the first nor the last port.
        QVERIFY(parseCommandLine({"tarnlow-cli", "coupler", "--ip", "10.0.0.1", "--file", "a.HEX", "--listen-port", "10275"})
                    .usageError == "the listen port 10275 is the coupler's boot port");
        QVERIFY(parseCommandLine({"tarnlow-cli", "plan", "p.csv", "--jobs", "2", "--listen-port", "10274"})
                    .usageError.startsWith("the listen ports 10274 to 10275 include 10275"));
        QCOMPARE(parseCommandLine({"tarnlow-cli", "plan", "p.csv", "--jobs", "0"}).usageError,
                 QString("--jobs takes a number of at least 1"));
        QCOMPARE(parseCommandLine({"tarnlow-cli", "--version"}).helpText, QString("tarnlow-cli 1.7.0.0\n"));
        const Command help = parseCommandLine({"tarnlow-cli", "--help"});
        QVERIFY(help.usageError.isEmpty());
        for (const char *verb : {"coupler", "module", "canopen", "ethercat", "plan"})
            QVERIFY(help.helpText.contains(QStringLiteral("tarnlow-cli %1 ").arg(verb)));
    }

    // Raw frames out of the plant network's adapter are warned of, not refused.
    void anAdapterOfThePlantNetworkIsWarnedOf()
    {
        const QVector<AdapterEntry> entries = {{"eth0 \u2014 192.0.2.2", "eth0", "", true, true},
                                               {"ppp0", "ppp0", "", false, true},
                                               {"eth1 \u2014 no IPv4", "eth1", "", false, false}};
        QCOMPARE(plantAdapterWarning("eth0", entries),
                 QString("warning: the network adapter eth0 carries an IPv4 address and the default route "
                         "(eth0 \u2014 192.0.2.2): make sure it is the cable to the EtherCAT segment, not the plant network"));
        QVERIFY(plantAdapterWarning("ppp0", entries).contains("carries the default route (ppp0)"));
        QVERIFY(plantAdapterWarning("eth1", entries).isEmpty());
        QVERIFY(plantAdapterWarning("eth7", entries).isEmpty());
    }
};

TARNLOW_TEST_MAIN(TestCliPlan)
#include "test_cli_plan.moc"
