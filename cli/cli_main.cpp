#include "cli/cli_main.h"

#include "core/application_identity.h"
#include "cli/command_line.h"
#include "cli/device_info.h"
#include "cli/history_listing.h"
#include "history/update_history.h"
#include "cli/interrupt.h"
#include "cli/json_report.h"
#include "cli/plan_runner.h"
#include "cli/scan_run.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTextStream>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// The engines' qDebug lines are for the window's debug log, not for a terminal.
void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

int terminalColumns()
{
    winsize size{};
    return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

ProgressDisplay::Mode displayMode(bool quiet)
{
    if (quiet)
        return ProgressDisplay::Mode::Quiet;
    return ::isatty(STDOUT_FILENO) ? ProgressDisplay::Mode::Terminal : ProgressDisplay::Mode::Lines;
}

int exitStatusOf(const QList<DeviceRecord> &records)
{
    if (Interrupt::requested())
        return kExitInterrupted;
    for (const DeviceRecord &record : records)
        if (record.outcome.kind != UpdateOutcome::Kind::Verified)
            return kExitFailed;
    return kExitSuccess;
}

// Tells once that Ctrl-C was seen, while the runs make their way to a safe point; on a second
// Ctrl-C `onInsist` runs (and does not return).
class InterruptNotice
{
public:
    InterruptNotice(ProgressDisplay &display, std::function<void()> onInsist)
        : m_thread([this, &display, onInsist] {
              while (!m_done && !Interrupt::requested())
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
              if (!Interrupt::requested())
                  return;
              display.note(QStringLiteral("Interrupted: stopping at a safe point (Ctrl-C again quits at once, "
                                          "the report still written)."));
              while (!m_done && !Interrupt::insisted())
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
              if (Interrupt::insisted())
                  onInsist();
          })
    {
    }
    ~InterruptNotice()
    {
        m_done = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

bool writeReport(const Command &command, const QList<DeviceRecord> &records, int status, QTextStream &err)
{
    QString failure;
    if (command.reportPath.isEmpty() || writeJsonReport(command.reportPath, records, status, failure))
        return true;
    err << "tarnlow-cli: the report " << command.reportPath << " could not be written: " << failure << '\n';
    err.flush();
    return false;
}

int update(const Command &command, QTextStream &out, QTextStream &err)
{
    Interrupt::install();
    // Output piped into a program that stops reading must not end the run in the middle of a device.
    std::signal(SIGPIPE, SIG_IGN);
    ProgressDisplay display(displayMode(command.quiet), out, Interrupt::requested, terminalColumns());
    PlanRun plan(command.jobs, command.plan, command.firmwareFiles);
    QList<DeviceRecord> records;
    QElapsedTimer clock;
    clock.start();
    {
        // The devices still running are left where they are; the report says so.
        InterruptNotice notice(display, [&] {
            writeReport(command, plan.recordsSoFar(), kExitInterrupted, err);
            display.note(QStringLiteral("Interrupted again: the report is written; the devices still running are "
                                        "left where they are."));
            std::fflush(stdout);
            std::_Exit(kExitInterrupted);
        });
        records = plan.run(display, Interrupt::requested);
    }
    display.note(ProgressDisplay::summaryLine(records, clock.elapsed()));
    for (const DeviceRecord &record : records) {
        if (!record.historyNotKept.isEmpty()) {
            err << "tarnlow-cli: " << record.historyNotKept << "; the updates went on without it\n";
            err.flush();
            break;
        }
    }
    const int status = exitStatusOf(records);
    if (!writeReport(command, records, status, err))
        return status == kExitSuccess ? kExitFailed : status;
    return status;
}

// Reads the one device and prints what it says; 1 when it could not be read at all.
int info(const Command &command, QTextStream &out, QTextStream &err)
{
    const DeviceJob &target = command.jobs.first();
    const DeviceInfo read = target.kind == DeviceKind::Canopen    ? readCanopenInfo(target)
                          : target.kind == DeviceKind::Ethercat ? readEthercatInfo(target)
                                                                  : readCouplerInfo(target, command.moduleRangeGiven);
    if (command.json) {
        QJsonObject object = read.json;
        if (!read.failure.isEmpty())
            object.insert("failure", read.failure);
        out << QJsonDocument(object).toJson(QJsonDocument::Indented);
    } else {
        for (const QString &line : read.lines)
            out << line << '\n';
    }
    out.flush();
    if (read.failure.isEmpty())
        return kExitSuccess;
    err << "tarnlow-cli: " << read.failure << '\n';
    return kExitFailed;
}

// Lists or exports the recorded updates; 1 when the history cannot be read.
int history(const Command &command, const UpdateEnvironment &environment, QTextStream &out, QTextStream &err)
{
    UpdateHistory history(environment.historyFile);
    const std::optional<QList<HistoryEntry>> entries = history.list(command.historyFilter);
    if (!entries) {
        err << "tarnlow-cli: " << history.lastError() << '\n';
        return kExitFailed;
    }
    if (!command.exportPath.isEmpty()) {
        QSaveFile file(command.exportPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(historyCsv(*entries)) < 0 || !file.commit()) {
            err << "tarnlow-cli: the export " << command.exportPath << " could not be written: " << file.errorString()
                << '\n';
            return kExitFailed;
        }
        out << entries->size() << (entries->size() == 1 ? " update" : " updates") << " written to "
            << command.exportPath << '\n';
    } else if (command.json) {
        out << historyJson(*entries);
    } else {
        out << historyTable(*entries);
    }
    return kExitSuccess;
}

}

int cliMain(const QStringList &arguments, const UpdateEnvironment &environment)
{
    ApplicationIdentity::apply();
    qInstallMessageHandler(messageHandler);
    QTextStream out(stdout);
    QTextStream err(stderr);
    Command command = parseCommandLine(arguments);
    for (DeviceJob &job : command.jobs)
        job.environment = environment;
    if (!command.usageError.isEmpty()) {
        err << "tarnlow-cli: " << command.usageError << "\nTry 'tarnlow-cli --help'.\n";
        return kExitUsage;
    }
    if (command.verb == Command::Verb::Help) {
        out << command.helpText;
        return kExitSuccess;
    }
    if (command.verb == Command::Verb::Info)
        return info(command, out, err);
    if (command.verb == Command::Verb::History)
        return history(command, environment, out, err);
    if (command.verb == Command::Verb::Scan)
        return runScan(command.scan, environment, out, err);
    return update(command, out, err);
}
