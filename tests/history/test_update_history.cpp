// The update history as the technician meets it: every update written when it starts and
// completed when it ends, written by many at once, listed and exported by tarnlow-cli history,
// and a file that is not a database stopping no update.
#include "history/update_history.h"
#include "tests/coupler_eth/coupler_page_bench.h"
#include "tests/support/message_box_recorder.h"
#include "sim/simulated_coupler.h"
#include "tests/support/cli_process.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <memory>
#include <thread>
#include <vector>

namespace {

const QString kCouplerFirmware = QStringLiteral("/bin/Coupler Firmware/ETN_Coupler_Demo.HEX");

using CliProcess::modbusPort;
using CliProcess::start;
using CliProcess::finished;
using CliRun = CliProcess::Run;

CliRun runCli(const QStringList &arguments, bool shipped = false)
{
    return CliProcess::run(arguments, shipped ? CliProcess::Build::AsShipped : CliProcess::Build::WithTestHooks);
}

std::unique_ptr<SimulatedCoupler> startedCoupler(const QString &address)
{
    SimulatedCouplerSetup setup;
    setup.address = address.toStdString();
    setup.modbusPort = modbusPort();
    auto coupler = std::make_unique<SimulatedCoupler>(setup);
    std::string failure;
    return coupler->start(failure) ? std::move(coupler) : nullptr;
}

QString planOf(const QStringList &addresses, const QString &name)
{
    QByteArray text;
    for (const QString &address : addresses)
        text += "coupler," + address.toUtf8() + "," + (SandboxFiles::binaryDirectory() + kCouplerFirmware).toUtf8() + "\n";
    return SandboxFiles::write(name, text);
}

HistoryEntry entry(const QString &target, const QString &ip, const QDateTime &started)
{
    HistoryEntry made;
    made.started = started;
    made.surface = "page";
    made.kind = "coupler";
    made.target = target;
    made.ip = ip;
    made.firmwareFile = "/fw/ETN_Coupler.HEX";
    return made;
}

// The coupler page updating a simulated coupler at `address`, as a user does it: the box it ends
// with (an empty one when none came).
RecordedBox updateOnThePage(const char *address)
{
    CouplerTest::writeFirmware("ETN_PAGE", CouplerTest::randomImage(1000, 7));
    CouplerTest::PageBench page(CouplerTest::couplerAt(address), 0);
    if (!page.start())
        return {};
    page.choose("ETN_PAGE");
    MessageBoxRecorder boxes;
    page.clickUpdate();
    return boxes.waitForBoxes(1) ? boxes.last() : RecordedBox{};
}

QList<HistoryEntry> everything()
{
    UpdateHistory history;
    return history.list({}).value_or(QList<HistoryEntry>());
}

}

class TestUpdateHistory : public QObject
{
    Q_OBJECT

private slots:
    void init() { QFile::remove(UpdateHistory::defaultFile()); }

    // An update that never ended (the program killed, the power gone) stays as "unfinished",
    // its start and target kept; the entry is completed with everything the update ended with.
    void anEntryStaysUnfinishedUntilItsUpdateEnds()
    {
        const QDateTime started = QDateTime::fromString("2026-12-01T08:00:00.000Z", Qt::ISODateWithMs);
        qint64 id = 0;
        {
            UpdateHistory writer;
            id = writer.begin(entry("coupler 192.168.1.10", "192.168.1.10", started)).value_or(0);
            QVERIFY2(id > 0, qPrintable(writer.lastError()));
        }
        QList<HistoryEntry> listed = everything();
        QCOMPARE(listed.size(), 1);
        QCOMPARE(listed[0].outcome, QString("unfinished"));
        QVERIFY(!listed[0].ended.isValid());
        QCOMPARE(listed[0].started, started);
        QCOMPARE(listed[0].target, QString("coupler 192.168.1.10"));

        HistoryEntry ended = listed[0];
        ended.ended = started.addSecs(12);
        ended.outcome = "verified";
        ended.productCode = 0x0702;
        ended.hardwareVersion = 1;
        ended.text = "Burning firmware successful.";
        ended.deviceState = "The coupler runs the new firmware.";
        ended.phases = QJsonArray{QJsonObject{{"name", "Burning Firmware to Device..."}, {"milliseconds", 4200}}};
        UpdateHistory other;
        QVERIFY2(other.finish(id, ended), qPrintable(other.lastError()));
        listed = everything();
        QCOMPARE(listed.size(), 1);
        QCOMPARE(listed[0].outcome, QString("verified"));
        QCOMPARE(listed[0].ended, started.addSecs(12));
        QCOMPARE(listed[0].productCode, std::optional<quint32>(0x0702));
        QCOMPARE(listed[0].hardwareVersion, std::optional<int>(1));
        QCOMPARE(listed[0].deviceState, ended.deviceState);
        QCOMPARE(listed[0].phases, ended.phases);
        QVERIFY(!other.finish(id + 1, ended));
        QCOMPARE(other.lastError(), QString("the update history %1 cannot be used: the entry of this update (%2) is gone")
                                        .arg(UpdateHistory::defaultFile()).arg(id + 1));
    }

    // Eight threads of this program, the coupler page and two command lines updating four
    // couplers each, all at once: every entry is there once, and completed.
    void manyWritersAtOnceLoseNoEntry()
    {
        std::vector<std::unique_ptr<SimulatedCoupler>> couplers;
        QStringList first, second;
        for (int i = 1; i <= 8; ++i) {
            const QString address = QStringLiteral("127.0.4.%1").arg(i);
            couplers.push_back(startedCoupler(address));
            QVERIFY(couplers.back());
            (i <= 4 ? first : second) << address;
        }
        QProcess *one = start({"plan", planOf(first, "first.csv"), "--jobs", "4", "--quiet"});
        QProcess *two = start({"plan", planOf(second, "second.csv"), "--jobs", "4", "--quiet"});
        constexpr int kThreads = 8;
        constexpr int kEntriesEach = 25;
        std::vector<int> kept(kThreads, 0);
        std::vector<std::thread> writers;
        for (int thread = 0; thread < kThreads; ++thread) {
            writers.emplace_back([thread, &kept] {
                UpdateHistory history;
                for (int i = 0; i < kEntriesEach; ++i) {
                    HistoryEntry made = entry(QStringLiteral("thread %1").arg(thread), QString(),
                                              QDateTime::currentDateTimeUtc());
                    const std::optional<qint64> id = history.begin(made);
                    made.ended = QDateTime::currentDateTimeUtc();
                    made.outcome = "failed";
                    if (id && history.finish(*id, made))
                        ++kept[size_t(thread)];
                }
            });
        }
        QCOMPARE(updateOnThePage("127.0.4.30").text, QString("Firmware of Remote IO has beed updated."));
        for (std::thread &writer : writers)
            writer.join();
        const CliRun firstRun = finished(one);
        const CliRun secondRun = finished(two);
        QCOMPARE(firstRun.status, 0);
        QCOMPARE(secondRun.status, 0);
        QVERIFY2(!firstRun.err.contains("history"), qPrintable(firstRun.err));
        for (int each : kept)
            QCOMPARE(each, kEntriesEach);
        const QList<HistoryEntry> listed = everything();
        QCOMPARE(listed.size(), kThreads * kEntriesEach + 8 + 1);
        QSet<qint64> ids;
        QStringList verified;
        for (const HistoryEntry &each : listed) {
            ids.insert(each.id);
            QVERIFY(!each.unfinished());
            if (each.outcome == QLatin1String("verified"))
                verified << each.surface + " " + each.ip;
        }
        QCOMPARE(ids.size(), listed.size());
        verified.sort();
        QStringList expected = {"page 127.0.4.30"};
        for (const QString &address : first + second)
            expected << "cli " + address;
        expected.sort();
        QCOMPARE(verified, expected);
    }

    // A history file that is not a database: the updates of the command line and of the page
    // run and are verified, the technician is told their record is not kept, the listing says
    // why, and the file is left as it was.
    void aFileThatIsNoDatabaseStopsNoUpdate()
    {
        const QByteArray garbage(8192, 'x');
        QDir().mkpath(QFileInfo(UpdateHistory::defaultFile()).absolutePath());
        QFile file(UpdateHistory::defaultFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(garbage);
        file.close();
        UpdateHistory history;
        QVERIFY(!history.begin(entry("coupler 127.0.4.20", "127.0.4.20", QDateTime::currentDateTimeUtc())));
        const QString why = QStringLiteral("the update history %1 cannot be used: file is not a database")
                                .arg(UpdateHistory::defaultFile());
        QCOMPARE(history.lastError(), why);

        const std::unique_ptr<SimulatedCoupler> coupler = startedCoupler("127.0.4.20");
        QVERIFY(coupler);
        const QString report = SandboxFiles::applicationDirectory() + "/corrupt-report.json";
        const CliRun update = runCli({"coupler", "--ip", "127.0.4.20", "--file",
                                      SandboxFiles::binaryDirectory() + kCouplerFirmware, "--quiet", "--report", report});
        QCOMPARE(update.status, 0);
        QCOMPARE(update.err, QString("tarnlow-cli: %1; the updates went on without it\n").arg(why));
        QFile written(report);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QJsonObject device = QJsonDocument::fromJson(written.readAll()).object()["devices"].toArray()[0].toObject();
        QCOMPARE(device["outcome"].toString(), QString("verified"));
        QCOMPARE(device["history"].toString(), "not kept: " + why);

        const RecordedBox box = updateOnThePage("127.0.4.21");
        QCOMPARE(box.text, QString("Firmware of Remote IO has beed updated."));
        QVERIFY2(box.informative.contains("This update is not in the update history: " + why + "."),
                 qPrintable(box.informative));

        const CliRun listing = runCli({"history"}, true);
        QCOMPARE(listing.status, 1);
        QCOMPARE(listing.err, QString("tarnlow-cli: %1\n").arg(why));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), garbage);
    }

    // The listing newest first in local time, filtered by target (the whole address, not a
    // prefix of it) and start; JSON for a program; CSV for a maintenance log, where a text that
    // a spreadsheet would compute stays text.
    void historyListsFiltersAndExports()
    {
        UpdateHistory history;
        const QDateTime day1 = QDateTime::fromString("2026-12-01T08:00:00.000Z", Qt::ISODateWithMs);
        HistoryEntry older = entry("coupler 192.168.1.1", "192.168.1.1", day1);
        older.informative = "=HYPERLINK(\"http://x\")";
        const qint64 olderId = history.begin(older).value_or(0);
        older.ended = day1.addMSecs(11500);
        older.outcome = "failed";
        older.title = "Format error exception";
        older.text = "In function: WRITE DATA page:3, bytes_received:-1, data:";
        QVERIFY(history.finish(olderId, older));
        const QDateTime day2 = day1.addDays(1);
        HistoryEntry newer = entry("coupler 192.168.1.10", "192.168.1.10", day2);
        newer.surface = "cli";
        newer.productCode = 0x0702;
        QVERIFY(history.begin(newer));

        const CliRun table = runCli({"history"}, true);
        QCOMPARE(table.status, 0);
        QCOMPARE(table.out,
                 QString("Started              Took    From  Target                Firmware         Outcome     Message\n"
                         "2026-12-02 08:00:00  -       cli   coupler 192.168.1.10  ETN_Coupler.HEX  unfinished  \n"
                         "2026-12-01 08:00:00  11.5 s  page  coupler 192.168.1.1   ETN_Coupler.HEX  failed      "
                         "In function: WRITE DATA page:3, bytes_received:-1, data:\n"));
        const CliRun one = runCli({"history", "--target", "192.168.1.1", "--json"}, true);
        const QJsonArray listed = QJsonDocument::fromJson(one.out.toUtf8()).array();
        QCOMPARE(listed.size(), 1);
        QCOMPARE(listed[0]["target"].toObject(), (QJsonObject{{"kind", "coupler"},
                                                              {"description", "coupler 192.168.1.1"},
                                                              {"ip", "192.168.1.1"},
                                                              {"listenPort", 0}}));
        QCOMPARE(listed[0]["title"].toString(), older.title);
        QCOMPARE(listed[0]["ended"].toString(), QString("2026-12-01T08:00:11.500Z"));
        const CliRun since = runCli({"history", "--since", "2026-12-02", "--json"}, true);
        QCOMPARE(QJsonDocument::fromJson(since.out.toUtf8()).array().size(), 1);
        QCOMPARE(runCli({"history", "--since", "Tuesday"}, true).status, 2);

        const QString csv = SandboxFiles::applicationDirectory() + "/log.csv";
        const CliRun exported = runCli({"history", "--export", csv}, true);
        QCOMPARE(exported.out, QString("2 updates written to %1\n").arg(csv));
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 4);   // the header, two updates, and the end of the last line
        QVERIFY(lines[0].startsWith("id,started,ended,surface,kind,target,ip,"));
        QVERIFY2(lines[2].contains(",\"'=HYPERLINK(\"\"http://x\"\")\","), lines[2].constData());
        QVERIFY2(lines[2].contains(",\"In function: WRITE DATA page:3, bytes_received:-1, data:\","), lines[2].constData());
    }
};

TARNLOW_TEST_MAIN(TestUpdateHistory)
#include "test_update_history.moc"
