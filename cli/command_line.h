#pragma once

#include "cli/device_job.h"
#include "cli/firmware_files.h"
#include "cli/plan_runner.h"
#include "history/history_entry.h"
#include "cli/scan_request.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// What the command line asks for.
struct Command {
    enum class Verb { Update, Info, History, Scan, Help };
    Verb verb = Verb::Help;
    QList<DeviceJob> jobs;      // the devices to update, or the one to read for info
    bool moduleRangeGiven = false;   // info on a coupler: --first was given
    bool json = false;               // info: one JSON object instead of lines
    PlanOptions plan;
    ScanRequest scan;           // for Verb::Scan
    QString reportPath;
    bool quiet = false;
    QString usageError;         // set when the command cannot run: exit status 2
    QString helpText;           // for Verb::Help: the help or the version
    HistoryFilter historyFilter;     // history: which entries
    QString exportPath;              // history: the CSV file to write instead of listing
    // The firmware files as the plan check loaded them, for the run to take.
    std::shared_ptr<FirmwareFiles> firmwareFiles = std::make_shared<FirmwareFiles>();
};

// Parses `arguments` (the program name first) with QCommandLineParser; a plan file is read and
// checked here, so a bad line ends the run before anything is sent.
Command parseCommandLine(const QStringList &arguments);

// The overview --help prints: every verb with an example.
QString overviewHelp();
