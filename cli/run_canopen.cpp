#include "cli/device_runners.h"

#include "cli/reported_progress.h"
#include "coupler_can/canopen_update_outcome.h"
#include "coupler_can/canopen_update_session.h"

UpdateOutcome runCanopen(const DeviceJob &job, const HexImage &hex, RunReport &report)
{
    report.phase(QStringLiteral("Opening the serial port"));
    CanopenUpdateSession session(job.serialPort.toStdString());
    if (session.openFailure())
        return *session.openFailure();
    ReportedProgress progress(report, [](UpdatePhase phase, int) { return canopenPhaseLabel(phase); },
                              2 * qint64(hex.imageLength));
    std::vector<uint8_t> readBack(hex.image.size(), 0xFF);
    return canopenUpdateOutcome(session.update(job.node, hex.image, hex.imageLength, readBack,
                                               {progress, progress, job.environment.waits.blocking(), nullptr}));
}
