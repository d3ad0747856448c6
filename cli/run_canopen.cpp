#include "cli/device_runners.h"

#include "cli/reported_progress.h"
#include "coupler_can/canopen_update_engine.h"
#include "coupler_can/canopen_update_outcome.h"
#include "coupler_can/serial_open_failure.h"
#include "coupler_can/usb_pass_through_canopen_comm.h"

UpdateOutcome runCanopen(const DeviceJob &job, const HexImage &hex, RunReport &report)
{
    report.phase(QStringLiteral("Opening the serial port"));
    USBPassThroughCANopenCOMM connection;
    try {
        connection.openByName(job.serialPort.toStdString());
    } catch (const std::exception &failure) {
        return serialOpenFailure(job.serialPort, failure);
    }
    ReportedProgress progress(report, [](UpdatePhase phase, int) { return canopenPhaseLabel(phase); },
                              2 * qint64(hex.imageLength));
    CanopenUpdateEngine engine(connection, job.node,
                               {progress, progress, job.environment.waits.blocking(), nullptr});
    std::vector<uint8_t> readBack(hex.image.size(), 0xFF);
    const UpdateOutcome outcome = canopenUpdateOutcome(engine.run(hex.image, hex.imageLength, readBack));
    connection.close();
    return outcome;
}
