#pragma once

#include "cli/device_record.h"
#include "cli/firmware_files.h"
#include "cli/progress_display.h"

#include <QList>

#include <functional>
#include <memory>

struct PlanOptions {
    // Devices updated at once. Two devices never share a coupler (its modules go through it),
    // a serial port or a network adapter.
    int jobs = 1;
    // After a failure no further device is started.
    bool stopOnFailure = false;
    // The coupler jobs running at once listen on this port, the next one up, and so on; on ports
    // the system chooses when it is 0.
    int listenPortBase = DeviceJob::kDefaultListenPort;
};

class PlanState;

// Runs the devices, each in a thread of its own, and returns their records in the plan's order,
// one for each module of a range.
// A device not started (after a failure with stopOnFailure, or after Ctrl-C) is recorded as
// aborted with the reason.
class PlanRun
{
public:
    // The devices' firmware comes from `files`, each file loaded once.
    PlanRun(const QList<DeviceJob> &jobs, const PlanOptions &options, std::shared_ptr<FirmwareFiles> files);
    ~PlanRun();

    QList<DeviceRecord> run(ProgressDisplay &display, const std::function<bool()> &stopRequested);
    // The records so far, from any thread while run() runs: a device still running is recorded
    // as interrupted, what it runs not known.
    QList<DeviceRecord> recordsSoFar() const;

private:
    QList<DeviceJob> m_jobs;
    PlanOptions m_options;
    std::shared_ptr<FirmwareFiles> m_files;
    std::unique_ptr<PlanState> m_state;
};
