#include "cli/device_runners.h"

#include "cli/reported_progress.h"
#include "coupler_can/canopen_update_outcome.h"
#include "coupler_can/canopen_update_session.h"

#include <cstdio>

UpdateOutcome runCanopen(const DeviceJob &job, const HexImage &hex, RunReport &report, DeviceRecord &record)
{
    report.phase(QStringLiteral("Opening the serial port"));
    CanopenUpdateSession session(job.serialPort.toStdString());
    if (session.openFailure())
        return *session.openFailure();
    record.device.productCode = session.productCode(job.node);
    // A file without a header keeps the page's default, which names no product.
    const bool fileNamesProduct = hex.productCode != HexPageProfile::canopen().defaultProductCode;
    if (fileNamesProduct && record.device.productCode && *record.device.productCode != hex.productCode)
        std::fprintf(stderr, "warning: %s says product code 0x%08X; the file %s is for product code 0x%04X\n",
                     qPrintable(job.target()), unsigned(*record.device.productCode), qPrintable(job.firmwareFile),
                     unsigned(hex.productCode));
    ReportedProgress progress(report, [](UpdatePhase phase, int) { return canopenPhaseLabel(phase); },
                              2 * qint64(hex.imageLength));
    std::vector<uint8_t> readBack(hex.image.size(), 0xFF);
    return canopenUpdateOutcome(session.update(job.node, hex.image, hex.imageLength, readBack,
                                               {progress, progress, report.countedWait(job.environment.waits), nullptr}));
}
