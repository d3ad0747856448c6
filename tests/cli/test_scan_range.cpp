// The addresses a coupler scan tries, from the text a technician types, and the scan's command
// line: what is refused and the message that says why.
#include "cli/command_line.h"
#include "cli/scan_range.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QtTest>

class TestScanRange : public QObject
{
    Q_OBJECT

private slots:
    void acceptedRanges_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<uint>("size");
        // Network and broadcast address left out below /31.
        QTest::newRow("/24") << "192.168.1.0/24" << "192.168.1.1" << "192.168.1.254" << 254u;
        QTest::newRow("/16, the largest") << "10.20.0.0/16" << "10.20.0.1" << "10.20.255.254" << 65534u;
        QTest::newRow("/30") << "10.0.0.4/30" << "10.0.0.5" << "10.0.0.6" << 2u;
        // Point-to-point: both addresses are hosts.
        QTest::newRow("/31") << "10.0.0.6/31" << "10.0.0.6" << "10.0.0.7" << 2u;
        QTest::newRow("/32") << "10.0.0.7/32" << "10.0.0.7" << "10.0.0.7" << 1u;
        QTest::newRow("one address") << "172.16.5.9" << "172.16.5.9" << "172.16.5.9" << 1u;
        QTest::newRow("top of the space") << "255.255.255.0/24" << "255.255.255.1" << "255.255.255.254" << 254u;
    }
    void acceptedRanges()
    {
        QFETCH(QString, text);
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(uint, size);
        const ScanRange range = parseScanRange(text);
        QCOMPARE(range.error, QString());
        QCOMPARE(ipv4Text(range.first), first);
        QCOMPARE(ipv4Text(range.last), last);
        QCOMPARE(range.size(), size);
    }

    void refusedRanges_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("why");
        const QString notRange = "\"%1\" is not an IPv4 range: expected A.B.C.D/N (octets 0 to 255, N 0 to 32) or "
                                 "one address A.B.C.D";
        for (const char *bad : {"256.1.1.0/24", "10.1.1/24", "10.1.1.0.0/24", "10.01.1.0/24", "10.1.1.0/33", "10.1.1.0/",
                                "10.1.1.0/24/8", " 10.1.1.0/24", "10.1.1.0/+24", "10.1.1.0/024", "-1.1.1.1", "", "a.b.c.d/24",
                                "1000.1.1.1"})
            QTest::newRow(bad) << QString(bad) << notRange.arg(bad);
        QTest::newRow("/15") << "10.0.0.0/15"
                             << "10.0.0.0/15 holds 131072 addresses; a scan takes a /16 (65,536 addresses) at most, so "
                                "that a mistyped prefix does not set off hours of connection attempts: scan it as "
                                "several /16 ranges";
        QTest::newRow("/0") << "0.0.0.0/0"
                            << "0.0.0.0/0 holds 4294967296 addresses; a scan takes a /16 (65,536 addresses) at most, so "
                               "that a mistyped prefix does not set off hours of connection attempts: scan it as "
                               "several /16 ranges";
        // Refused rather than masked: the address typed is likely not the range meant.
        QTest::newRow("host bits") << "192.168.1.77/24" << "192.168.1.77/24 has host bits set: the range of that address "
                                                           "is 192.168.1.0/24";
        QTest::newRow("host bit of a /31") << "10.0.0.7/31" << "10.0.0.7/31 has host bits set: the range of that "
                                                               "address is 10.0.0.6/31";
    }
    void refusedRanges()
    {
        QFETCH(QString, text);
        QFETCH(QString, why);
        const ScanRange range = parseScanRange(text);
        QCOMPARE(range.error, why);
        QCOMPARE(range.size(), 0u);
    }

    // What the scan verb takes, and the usage errors of what it does not.
    void scanCommandLines()
    {
        const auto usageError = [](const QStringList &arguments) {
            return parseCommandLine(QStringList{"tarnlow-cli", "scan"} + arguments).usageError;
        };
        const Command coupler = parseCommandLine({"tarnlow-cli", "scan", "coupler", "192.168.1.0/24", "--json"});
        QCOMPARE(coupler.usageError, QString());
        QCOMPARE(int(coupler.verb), int(Command::Verb::Scan));
        QCOMPARE(coupler.scan.range.size(), 254u);
        QVERIFY(coupler.scan.json);
        QCOMPARE(usageError({"coupler", "10.0.0.0/15"}), parseScanRange("10.0.0.0/15").error);
        QCOMPARE(usageError({"coupler"}), QString("scan coupler takes one range of addresses, e.g. 192.168.1.0/24"));
        QCOMPARE(usageError({"canopen"}), QString("no serial port named"));
        QCOMPARE(usageError({"ethercat"}), QString("no network adapter named"));
        QCOMPARE(usageError({"canopen", "--port", "COM3", "1-127"}),
                 QString("scan canopen takes no range: unexpected argument \"1-127\""));
        QCOMPARE(usageError({"printer"}), QString("scan takes one of coupler RANGE, canopen, ethercat"));
        QCOMPARE(usageError({"coupler", "10.0.0.0/24", "--plan-out", "p.csv"}),
                 QString("--plan-out FILE and --firmware-dir DIR go together: the plan takes its files from DIR"));
        const QString missing = SandboxFiles::applicationDirectory() + "/no-such-folder";
        QCOMPARE(usageError({"coupler", "10.0.0.0/24", "--plan-out", "p.csv", "--firmware-dir", missing}),
                 QString("the firmware folder %1 is not a folder").arg(missing));
        QCOMPARE(usageError({"coupler", "10.0.0.0/24", "--plan-out", missing + "/p.csv", "--firmware-dir", "."}),
                 QString("the plan cannot be written to %1/p.csv").arg(missing));
        // A scan changes nothing: it has no report of a run.
        QCOMPARE(usageError({"coupler", "10.0.0.0/24", "--report", "r.json"}), QString("Unknown option 'report'."));
        QVERIFY(overviewHelp().contains("  scan       Find the devices that answer, changing nothing: scan coupler "
                                        "RANGE|canopen|ethercat; write a plan for them.\n      tarnlow-cli scan coupler "
                                        "192.168.1.0/24 --plan-out fleet.csv --firmware-dir firmware\n"));
    }
};

TARNLOW_TEST_MAIN(TestScanRange)
#include "test_scan_range.moc"
