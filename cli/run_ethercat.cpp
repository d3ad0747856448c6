#include "cli/device_runners.h"

#include "coupler_ecat/ethercat_coupler_update.h"

#include <QCryptographicHash>

namespace {

// The page's master finds the coupler as the first slave of the segment.
constexpr uint8_t kCouplerPosition = 1;

// The diagnostic lines that begin the phases a technician waits through.
void phaseOfLine(const std::string &line, RunReport &report)
{
    if (line.rfind("Request init state", 0) == 0)
        report.phase(QStringLiteral("Bringing the coupler into BOOT"));
    else if (line.rfind("FoE write", 0) == 0)
        report.phase(QStringLiteral("Writing the firmware by FoE"));
    else if (line.rfind("Request Pre-OP", 0) == 0)
        report.phase(QStringLiteral("Requesting PRE-OP"));
}

}

UpdateOutcome runEthercat(const DeviceJob &job, RunReport &report, QString &imageSha256)
{
    report.phase(QStringLiteral("Opening the adapter"));
    EthercatCouplerUpdate update;
    update.onDiagnostic = [&report](const std::string &line) { phaseOfLine(line, report); };
    update.onProgress = [&report, &update](std::size_t sent, std::size_t total) {
        report.bytes(qint64(sent), qint64(total));
        // Checked after every data message: the write stops there, as Abort stops it on the page.
        if (report.stopRequested())
            update.foeAbortRequested = true;
    };
    const int result = update.updateSlaveFirmware(job.adapter.toLocal8Bit().constData(), kCouplerPosition,
                                                  job.firmwareFile.toLocal8Bit().constData());
    if (update.firmwareSize > 0)
        imageSha256 = QCryptographicHash::hash(QByteArray::fromRawData(reinterpret_cast<const char *>(
                                                                           update.firmwareBuffer.data()),
                                                                       update.firmwareSize),
                                               QCryptographicHash::Sha256)
                          .toHex();
    if (update.foeAbortRequested)
        return UpdateOutcome::aborted();
    return update.outcome(result);
}
