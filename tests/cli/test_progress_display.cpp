// The progress lines as a terminal shows them: redrawn in place without leaving stale lines,
// cut to the terminal's width, and as timestamped lines through a pipe.
#include "cli/progress_display.h"
#include "cli/reported_progress.h"
#include "module/module_update_outcome.h"
#include "tests/support/test_main.h"

#include <QtTest>

namespace {

// What a terminal shows after `output`: cursor up, clear line, carriage return and new line are
// all the display uses.
QStringList screenAfter(const QString &output)
{
    QStringList screen{QString()};
    int row = 0;
    for (int i = 0; i < output.size(); ++i) {
        if (output.midRef(i, 4) == QLatin1String("\x1b[1A")) {
            row = qMax(0, row - 1);
            i += 3;
        } else if (output.midRef(i, 4) == QLatin1String("\x1b[2K")) {
            screen[row].clear();
            i += 3;
        } else if (output[i] == '\r') {
            continue;   // every line the display writes starts at the left edge
        } else if (output[i] == '\n') {
            if (++row == screen.size())
                screen << QString();
        } else {
            screen[row] += output[i];
        }
    }
    screen.removeAll(QString());
    return screen;
}

DeviceJob couplerAt(const QString &ip)
{
    DeviceJob job;
    job.ip = ip;
    return job;
}

DeviceRecord verifiedRecord(const DeviceJob &job)
{
    DeviceRecord record;
    record.job = job;
    record.outcome = UpdateOutcome::verified("Firmware of Remote IO has beed updated.");
    record.readBack = true;
    return record;
}

}

class TestProgressDisplay : public QObject
{
    Q_OBJECT

private slots:
    void aTerminalKeepsOneLinePerRunningDeviceBelowTheOutcomes()
    {
        QString output;
        QTextStream out(&output);
        ProgressDisplay display(ProgressDisplay::Mode::Terminal, out, [] { return false; });
        const DeviceJob first = couplerAt("10.0.0.1");
        const DeviceJob second = couplerAt("10.0.0.2");
        auto firstProgress = display.track(0, first);
        auto secondProgress = display.track(1, second);
        firstProgress->phaseStarted("Burning Firmware to Device...");
        secondProgress->phaseStarted("Waiting before the run");
        firstProgress->phaseStarted("Reading Flash for comparing...");
        display.finished(0, verifiedRecord(first));
        secondProgress->phaseStarted("Comparing Data...");
        QCOMPARE(screenAfter(output), QStringList({"coupler 10.0.0.1: verified: Firmware of Remote IO has beed updated.",
                                                   "coupler 10.0.0.2: Comparing Data..."}));
    }

    void aTerminalLineIsCutToItsWidth()
    {
        QString output;
        QTextStream out(&output);
        ProgressDisplay display(ProgressDisplay::Mode::Terminal, out, [] { return false; }, 24);
        auto progress = display.track(0, couplerAt("192.168.100.200"));
        progress->phaseStarted("Reading Flash for comparing...");
        QCOMPARE(screenAfter(output), QStringList({"coupler 192.168.100.200"}));
    }

    // Through a pipe: the phase, then a line at each tenth of the bytes with rate and time left.
    void aPipeGetsTimestampedLinesAtEachTenth()
    {
        QString output;
        QTextStream out(&output);
        ProgressDisplay display(ProgressDisplay::Mode::Lines, out, [] { return false; });
        auto progress = display.track(0, couplerAt("10.0.0.3"));
        progress->phaseStarted("Burning Firmware to Device...");
        for (qint64 done = 0; done <= 100 * 1024; done += 1024)
            progress->bytesDone(done, 100 * 1024);
        const QStringList lines = output.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1 + 11);
        for (const QString &line : lines)
            QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d coupler 10.0.0.3: ").match(line).hasMatch(),
                     qPrintable(line));
        QVERIFY(lines.last().contains("Burning Firmware to Device...  100/100 KiB 100%"));
    }

    // A module range's bytes count forward across its modules, though each module's steps start
    // again, and a verified run ends at its total.
    void theByteCountOnlyGoesForward()
    {
        struct Seen : DeviceProgress {
            QList<qint64> done;
            QList<qint64> waitsLeft;
            void phaseStarted(const QString &) override {}
            void bytesDone(qint64 bytes, qint64 total) override { done << bytes << total; }
            void waiting(qint64 left) override { waitsLeft << left; }
            bool stopRequested() const override { return false; }
        } seen;
        DeviceRecord record;
        RunReport report(record, seen);
        ReportedProgress progress(report, &modulePhaseLabel, 1000, 2);
        for (int module = 1; module <= 2; ++module) {
            progress.setMaximum(2001);
            progress.setValue(1);
            progress.phase(UpdatePhase::Writing, module);
            progress.setValue(1000);
            progress.setValue(1900);
        }
        report.complete();
        QCOMPARE(seen.done, (QList<qint64>{0, 2000, 499, 2000, 949, 2000, 949, 2000, 1499, 2000, 1949, 2000,
                                           2000, 2000}));
        // A wait tells what is left of it second by second, as long as it lasts here.
        report.countedWait(FixedWaits(2))(2500);
        QCOMPARE(seen.waitsLeft, (QList<qint64>{1250, 250, 0}));
    }

    void aTerminalShowsTheWaitsCountdown()
    {
        QString output;
        QTextStream out(&output);
        ProgressDisplay display(ProgressDisplay::Mode::Terminal, out, [] { return false; });
        auto progress = display.track(0, couplerAt("10.0.0.5"));
        progress->phaseStarted("Waiting before the run");
        progress->waiting(4200);
        QCOMPARE(screenAfter(output), QStringList{"coupler 10.0.0.5: Waiting before the run  wait 0:05"});
        progress->waiting(0);
        QCOMPARE(screenAfter(output), QStringList{"coupler 10.0.0.5: Waiting before the run"});
    }

    void quietPrintsOnlyTheOutcome()
    {
        QString output;
        QTextStream out(&output);
        ProgressDisplay display(ProgressDisplay::Mode::Quiet, out, [] { return false; });
        const DeviceJob job = couplerAt("10.0.0.4");
        auto progress = display.track(0, job);
        progress->phaseStarted("Burning Firmware to Device...");
        progress->bytesDone(10, 20);
        DeviceRecord failed;
        failed.job = job;
        failed.outcome = UpdateOutcome::failed(UpdateOutcome::Icon::Critical, QString(), "Send Failed", "Network is unreachable");
        display.finished(0, failed);
        QCOMPARE(output, QString("coupler 10.0.0.4: FAILED: Send Failed (Network is unreachable)\n"));
    }
};

TARNLOW_TEST_MAIN(TestProgressDisplay)
#include "test_progress_display.moc"
