#include "cli/command_line.h"

#include "core/application_identity.h"
#include "cli/firmware_checks.h"
#include "cli/plan_file.h"
#include "cli/target_checks.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace {

const QCommandLineOption kReport(QStringLiteral("report"), "Write a JSON record of the run to FILE.", "FILE");
const QCommandLineOption kQuiet(QStringLiteral("quiet"), "Print only each device's outcome.");
const QCommandLineOption kJson(QStringLiteral("json"), "Print what was read as one JSON object.");
const QCommandLineOption kIp(QStringLiteral("ip"), "The Ethernet coupler's IPv4 address.", "A");
const QCommandLineOption kFile(QStringLiteral("file"), "The firmware file.", "F");
const QCommandLineOption kListenPort(QStringLiteral("listen-port"), "Local UDP port for the coupler's replies (default 0: one the system chooses).", "P",
                                     QString::number(DeviceJob::kDefaultListenPort));
const QCommandLineOption kFirst(QStringLiteral("first"), "First module to update.", "N");
const QCommandLineOption kLast(QStringLiteral("last"), "Last module to update (default: the first).", "M");
const QCommandLineOption kFirstRead(QStringLiteral("first"), "First module to read.", "N");
const QCommandLineOption kLastRead(QStringLiteral("last"), "Last module to read (default: the first).", "M");
const QCommandLineOption kAdvance(QStringLiteral("advance"), "Advance mode: skip the modules' matching checks.");
const QCommandLineOption kPort(QStringLiteral("port"), "The CANopen coupler's serial port: COMn or a device path.", "PORT");
const QCommandLineOption kNode(QStringLiteral("node"), "The CANopen node ID (default 1).", "N", QString::number(DeviceJob::kDefaultNode));
const QCommandLineOption kAdapter(QStringLiteral("adapter"), "The network adapter the EtherCAT coupler is on.", "NAME");
const QCommandLineOption kJobs(QStringLiteral("jobs"), "Update up to N devices at once.", "N", "1");
const QCommandLineOption kStopOnFailure(QStringLiteral("stop-on-failure"), "Start no further device after a failure.");
const QCommandLineOption kTarget(QStringLiteral("target"), "Only the updates of this address, serial port or adapter.", "T");
const QCommandLineOption kSince(QStringLiteral("since"), "Only the updates started on or after DATE (2026-12-01 or 2026-12-01T08:00, local time).", "DATE");
const QCommandLineOption kHistoryJson(QStringLiteral("json"), "Print the updates as a JSON array.");
const QCommandLineOption kExport(QStringLiteral("export"), "Write the updates to FILE.csv instead of listing them.", "FILE");
const QCommandLineOption kScanJson(QStringLiteral("json"), "Print the devices found as a JSON array.");
const QCommandLineOption kPlanOut(QStringLiteral("plan-out"), "Write a plan for the devices found to FILE (with --firmware-dir).", "FILE");
const QCommandLineOption kFirmwareDir(QStringLiteral("firmware-dir"), "The folder whose firmware files the plan takes.", "DIR");

struct VerbSpec {
    const char *name;
    const char *summary;
    const char *example;
    QList<QCommandLineOption> options;
};

const QList<VerbSpec> &verbs()
{
    static const QList<VerbSpec> list = {
        {"coupler", "Update an Ethernet bus coupler.",
         "tarnlow-cli coupler --ip 192.168.1.10 --file ETN_Coupler.HEX", {kIp, kFile, kListenPort}},
        {"module", "Update a range of I/O modules behind an Ethernet coupler.",
         "tarnlow-cli module --ip 192.168.1.10 --first 1 --last 4 --file Module.HEX", {kIp, kFirst, kLast, kAdvance, kFile}},
        {"canopen", "Update a CANopen coupler through its USB virtual COM port.",
         "tarnlow-cli canopen --port COM3 --node 5 --file COP_Coupler.HEX", {kPort, kNode, kFile}},
        {"ethercat", "Update an EtherCAT coupler by FoE.",
         "tarnlow-cli ethercat --adapter eth1 --file ECAT_Coupler.bin", {kAdapter, kFile}},
        {"plan", "Update every device of a plan file (CSV, one device per line).",
         "tarnlow-cli plan fleet.csv --jobs 4 --report fleet.json", {kJobs, kStopOnFailure, kListenPort}},
        {"info", "Read what a device says about itself, changing nothing: info coupler|canopen|ethercat.",
         "tarnlow-cli info coupler --ip 192.168.1.10", {kIp, kFirstRead, kLastRead, kPort, kNode, kAdapter, kJson}},
        {"history", "List the updates recorded by the pages and the command line, newest first.",
         "tarnlow-cli history --target 192.168.1.10 --since 2026-12-01", {kTarget, kSince, kHistoryJson, kExport}},
        {"scan", "Find the devices that answer, changing nothing: scan coupler RANGE|canopen|ethercat; write a plan for them.",
         "tarnlow-cli scan coupler 192.168.1.0/24 --plan-out fleet.csv --firmware-dir firmware",
         {kPort, kAdapter, kScanJson, kPlanOut, kFirmwareDir}},
    };
    return list;
}

const VerbSpec *verbNamed(const QString &name)
{
    for (const VerbSpec &verb : verbs())
        if (name == QLatin1String(verb.name))
            return &verb;
    return nullptr;
}

// The option's number; an option that holds none is added to `unreadable`.
int intValue(const QCommandLineParser &parser, const QCommandLineOption &option, QStringList &unreadable)
{
    bool converted = false;
    const int value = parser.value(option).toInt(&converted);
    if (!converted)
        unreadable << QStringLiteral("--") + option.names().first();
    return value;
}

QString numbersExpected(const QStringList &unreadable)
{
    return QStringLiteral("%1 takes a number").arg(unreadable.join(QLatin1String(", ")));
}

bool reportWritable(const QString &path)
{
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    return folder.isDir() && folder.isWritable() && (!file.exists() || (file.isFile() && file.isWritable()));
}

// Where the device of `job.kind` is, from the options its verb shares with info.
void readTarget(const QCommandLineParser &parser, DeviceJob &job, QStringList &unreadable)
{
    switch (job.kind) {
    case DeviceKind::Module:
        job.firstModule = intValue(parser, kFirst, unreadable);
        job.lastModule = parser.isSet(kLast) ? intValue(parser, kLast, unreadable) : job.firstModule;
        Q_FALLTHROUGH();
    case DeviceKind::Coupler:
        job.ip = parser.value(kIp);
        break;
    case DeviceKind::Canopen:
        job.serialPort = parser.value(kPort);
        job.node = intValue(parser, kNode, unreadable);
        break;
    case DeviceKind::Ethercat:
        job.adapter = parser.value(kAdapter);
        break;
    }
}

DeviceKind kindNamed(const QString &name)
{
    for (DeviceKind kind : {DeviceKind::Coupler, DeviceKind::Module, DeviceKind::Canopen})
        if (name == DeviceJob::kindName(kind))
            return kind;
    return DeviceKind::Ethercat;
}

// One device from the options of its verb.
QString jobFromOptions(const QString &verb, const QCommandLineParser &parser, DeviceJob &job)
{
    QStringList unreadable;
    job.kind = kindNamed(verb);
    readTarget(parser, job, unreadable);
    // Absolute, as a plan's paths are: the EtherCAT coupler receives the name with the file.
    if (!parser.value(kFile).isEmpty())
        job.firmwareFile = QFileInfo(parser.value(kFile)).absoluteFilePath();
    if (job.kind == DeviceKind::Coupler)
        job.listenPort = intValue(parser, kListenPort, unreadable);
    job.advanceMode = job.kind == DeviceKind::Module && parser.isSet(kAdvance);
    if (!unreadable.isEmpty())
        return numbersExpected(unreadable);
    return checkTarget(job);
}

// info KIND: the device to read, as the update verb of that kind names it; a coupler with
// --first is read with that range of its modules.
QString infoFromArguments(const QCommandLineParser &parser, Command &command)
{
    const QStringList kinds = {"coupler", "canopen", "ethercat"};
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1 || !kinds.contains(positional.first()))
        return QStringLiteral("info takes one of coupler, canopen, ethercat");
    command.verb = Command::Verb::Info;
    command.moduleRangeGiven = parser.isSet(kFirst);
    command.json = parser.isSet(kJson);
    DeviceJob job;
    job.kind = kindNamed(positional.first());
    if (job.kind == DeviceKind::Coupler && command.moduleRangeGiven)
        job.kind = DeviceKind::Module;
    QStringList unreadable;
    readTarget(parser, job, unreadable);
    command.jobs = {job};
    if (!unreadable.isEmpty())
        return numbersExpected(unreadable);
    return checkTarget(job, false);
}

// A date alone is its first moment; a time without a zone is local time.
QDateTime sinceOf(const QString &text)
{
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (day.isValid())
        return day.startOfDay();
    return QDateTime::fromString(text, Qt::ISODate);
}

QString historyFromArguments(const QCommandLineParser &parser, Command &command)
{
    command.verb = Command::Verb::History;
    command.json = parser.isSet(kHistoryJson);
    command.exportPath = parser.value(kExport);
    command.historyFilter.target = parser.value(kTarget);
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first());
    if (parser.isSet(kSince)) {
        command.historyFilter.since = sinceOf(parser.value(kSince));
        if (!command.historyFilter.since.isValid())
            return QStringLiteral("--since takes a date (2026-12-01) or a date and time (2026-12-01T08:00)");
    }
    if (command.json && !command.exportPath.isEmpty())
        return QStringLiteral("--json and --export do not go together");
    if (!command.exportPath.isEmpty() && !reportWritable(command.exportPath))
        return QStringLiteral("the export cannot be written to %1").arg(command.exportPath);
    return QString();
}

QString planFromArguments(const QCommandLineParser &parser, Command &command)
{
    QStringList unreadable;
    command.plan.jobs = intValue(parser, kJobs, unreadable);
    command.plan.listenPortBase = intValue(parser, kListenPort, unreadable);
    command.plan.stopOnFailure = parser.isSet(kStopOnFailure);
    if (!unreadable.isEmpty())
        return numbersExpected(unreadable);
    if (command.plan.jobs < 1)
        return QStringLiteral("--jobs takes a number of at least 1");
    const QString ports = checkListenPorts(command.plan.listenPortBase, command.plan.jobs);
    if (!ports.isEmpty())
        return ports;
    if (parser.positionalArguments().size() != 1)
        return QStringLiteral("plan takes one plan file");
    const QString planPath = parser.positionalArguments().first();
    const PlanParse plan = readPlanFile(planPath);
    if (!plan.error.isEmpty())
        return plan.error;
    command.jobs = plan.jobs;
    return firmwareProblems(plan.jobs, planPath, *command.firmwareFiles).join(QLatin1Char('\n'));
}

// scan KIND [RANGE]: the devices of one kind that answer, and a plan for them when asked.
QString scanFromArguments(const QCommandLineParser &parser, Command &command)
{
    command.verb = Command::Verb::Scan;
    ScanRequest &scan = command.scan;
    scan.serialPort = parser.value(kPort);
    scan.adapter = parser.value(kAdapter);
    scan.json = parser.isSet(kScanJson);
    scan.planOut = parser.value(kPlanOut);
    scan.firmwareDir = parser.value(kFirmwareDir);
    // Found out now rather than after the scan.
    if (!scan.planOut.isEmpty() && !reportWritable(scan.planOut))
        return QStringLiteral("the plan cannot be written to %1").arg(scan.planOut);
    return readScanTarget(parser.positionalArguments(), scan);
}

}

QString overviewHelp()
{
    QString text = QStringLiteral("Usage: tarnlow-cli VERB [options]\n\n"
                                  "Updates the firmware of Ethernet couplers, their I/O modules, CANopen and EtherCAT "
                                  "couplers with the checks, waits and texts of the pages.\n\nVerbs:\n");
    for (const VerbSpec &verb : verbs())
        text += QStringLiteral("  %1  %2\n      %3\n").arg(QString::fromLatin1(verb.name).leftJustified(9), verb.summary, verb.example);
    text += QStringLiteral("\nThe updating verbs take --report FILE.json and --quiet; 'tarnlow-cli VERB --help' lists its "
                           "options; 'tarnlow-cli --version' prints the version.\nExit status: 0 every device "
                           "written and verified, 1 a device failed, 2 usage error, 130 interrupted.\n");
    return text;
}

namespace {

void describeVerb(const VerbSpec &verb, QCommandLineParser &parser)
{
    const QString name = QString::fromLatin1(verb.name);
    parser.setApplicationDescription(QString::fromLatin1(verb.summary) + "\nExample: " + verb.example);
    parser.addOptions(verb.options);
    if (name != QLatin1String("info") && name != QLatin1String("history") && name != QLatin1String("scan"))
        parser.addOptions({kReport, kQuiet});
    if (name == QLatin1String("plan"))
        parser.addPositionalArgument("FILE", "The plan: one device per line.");
    if (name == QLatin1String("info"))
        parser.addPositionalArgument("KIND", "coupler (with the modules behind it), canopen or ethercat.");
    if (name == QLatin1String("scan"))
        parser.addPositionalArgument("KIND [RANGE]", "coupler with a range (192.168.1.0/24, a /16 at most), canopen or ethercat.");
}

// An update verb's devices, report and display, from its parsed options.
QString updateFromArguments(const QString &verbName, const QCommandLineParser &parser, Command &command)
{
    command.verb = Command::Verb::Update;
    command.reportPath = parser.value(kReport);
    command.quiet = parser.isSet(kQuiet);
    // Found out now rather than after a whole fleet has been updated.
    if (!command.reportPath.isEmpty() && !reportWritable(command.reportPath))
        return QStringLiteral("the report cannot be written to %1").arg(command.reportPath);
    if (verbName == QLatin1String("plan"))
        return planFromArguments(parser, command);
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first());
    DeviceJob job;
    const QString problem = jobFromOptions(verbName, parser, job);
    command.jobs = {job};
    if (!problem.isEmpty() || job.kind != DeviceKind::Coupler)
        return problem;
    command.plan.listenPortBase = job.listenPort;
    return checkListenPorts(job.listenPort, 1);
}

}

Command parseCommandLine(const QStringList &arguments)
{
    Command command;
    const QString verbName = arguments.value(1);
    const VerbSpec *verb = verbNamed(verbName);
    if (verbName == QLatin1String("--version") || verbName == QLatin1String("-v")) {
        command.helpText = QStringLiteral("tarnlow-cli %1\n").arg(QLatin1String(ApplicationIdentity::version));
        return command;
    }
    if (!verb) {
        command.helpText = overviewHelp();
        if (!verbName.isEmpty() && verbName != QLatin1String("--help") && verbName != QLatin1String("-h"))
            command.usageError = QStringLiteral("unknown verb \"%1\"").arg(verbName);
        return command;
    }
    QCommandLineParser parser;
    const QCommandLineOption help = parser.addHelpOption();
    describeVerb(*verb, parser);
    QStringList verbArguments = arguments;
    verbArguments.removeAt(1);
    if (!parser.parse(verbArguments)) {
        command.usageError = parser.errorText();
        return command;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        command.helpText = parser.helpText().replace(QLatin1String("Usage: ") + arguments.first(),
                                                     QLatin1String("Usage: tarnlow-cli ") + verbName);
        return command;
    }
    if (verbName == QLatin1String("info"))
        command.usageError = infoFromArguments(parser, command);
    else if (verbName == QLatin1String("history"))
        command.usageError = historyFromArguments(parser, command);
    else if (verbName == QLatin1String("scan"))
        command.usageError = scanFromArguments(parser, command);
    else
        command.usageError = updateFromArguments(verbName, parser, command);
    return command;
}
