#include "cli/device_runners.h"

#include "cli/adapter_warning.h"
#include "cli/reported_progress.h"
#include "coupler_ecat/ethercat_coupler_update.h"
#include "coupler_ecat/ethercat_update_outcome.h"

#include "core/file_sha256.h"

namespace {

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

UpdateOutcome runEthercat(const DeviceJob &job, RunReport &report, DeviceRecord &record)
{
    report.phase(QStringLiteral("Reading the firmware file"));
    // The phases come from the diagnostic lines; the bytes acknowledged are counted as they come.
    ReportedProgress progress(report, nullptr, 0);
    EthercatCouplerUpdate update(Ethercat::defaultLinkOpener(),
                                 {progress, progress, report.countedWait(job.environment.waits),
                                  [&report](const std::string &line) { phaseOfLine(line, report); }});
    const QByteArray fileName = job.firmwareFile.toUtf8();
    int size = 0;
    // The page offers only files that are there; a plan's file is read before the coupler is
    // taken into BOOT, so a wrong path leaves it running.
    if (!update.readFirmwareFile(fileName.constData(), size)) {
        UpdateResult unreadable;
        unreadable.cause = UpdateResult::Cause::FileUnreadable;
        unreadable.detail = QStringLiteral("The file %1 cannot be read, is empty or is larger than %2 bytes.")
                                .arg(job.firmwareFile).arg(firmwareBufferSize).toStdString();
        return ethercatUpdateOutcome(unreadable);
    }
    if (const std::optional<UpdateResult> refusal = refuseFileForAnotherPage(job.firmwareFile.toStdString()))
        return ethercatUpdateOutcome(*refusal);
    record.imageSha256 = sha256OfFile(job.firmwareFile);
    if (report.stopRequested())
        return UpdateOutcome::aborted(QStringLiteral("Interrupted before anything was sent."));
    report.phase(QStringLiteral("Opening the adapter"));
    warnOfPlantAdapter(job.adapter);
    const UpdateResult result = update.resultOf(
        update.updateSlaveFirmware(job.adapter.toUtf8().constData(), uint8_t(DeviceJob::kEthercatSlave), fileName.constData()));
    record.device.alState = QString::fromStdString(result.deviceState);
    if (const std::optional<Ethercat::SiiIdentity> &identity = update.slaveIdentity()) {
        record.device.productCode = identity->productCode;
        record.device.name = QString::fromStdString(identity->name);
    }
    return ethercatUpdateOutcome(result);
}
