#include "cli/device_runners.h"

#include "cli/reported_progress.h"
#include "module/module_update_outcome.h"
#include "module/module_update_session.h"

namespace {

UpdateOutcome recorded(const UpdateResult &result, DeviceRecord &record)
{
    record.rangeAfter = result.rangeAfter;
    if (record.rangeAfter.empty())   // the run ended before any module was asked
        record.rangeAfter.assign(size_t(record.job.lastModule - record.job.firstModule + 1), result.deviceAfter);
    record.outcomeModules = QList<int>(result.modules.begin(), result.modules.end());
    return moduleUpdateOutcome(result);
}

}

UpdateOutcome runModules(const DeviceJob &job, const HexImage &hex, RunReport &report, DeviceRecord &record)
{
    report.phase(QStringLiteral("Connecting to the coupler"));
    ModuleUpdateSession session(job.ip.toStdString(), job.environment.modbusPort);
    if (const std::optional<UpdateResult> failure = session.connectionFailure())
        return recorded(*failure, record);
    report.phase(QStringLiteral("Checking the modules"));
    ReportedProgress progress(report, &modulePhaseLabel, 2 * qint64(hex.imageLength),
                              job.lastModule - job.firstModule + 1);
    return recorded(session.update(job.firstModule, job.lastModule, job.advanceMode, hex,
                                   {progress, progress, report.countedWait(job.environment.waits), nullptr}),
                    record);
}
