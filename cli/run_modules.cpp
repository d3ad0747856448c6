#include "cli/device_runners.h"

#include "cli/reported_progress.h"
#include "module/module_update_outcome.h"
#include "module/module_update_session.h"

UpdateOutcome runModules(const DeviceJob &job, const HexImage &hex, RunReport &report)
{
    report.phase(QStringLiteral("Connecting to the coupler"));
    ModuleUpdateSession session(job.ip.toStdString(), job.environment.modbusPort);
    if (const std::optional<UpdateResult> failure = session.connectionFailure())
        return moduleUpdateOutcome(*failure);
    report.phase(QStringLiteral("Checking the modules"));
    ReportedProgress progress(report, &modulePhaseLabel, 2 * qint64(hex.imageLength),
                              job.lastModule - job.firstModule + 1);
    return moduleUpdateOutcome(session.update(job.firstModule, job.lastModule, job.advanceMode, hex,
                                              {progress, progress, report.countedWait(job.environment.waits), nullptr}));
}
