#include "cli/device_run.h"

#include "cli/device_runners.h"
#include "cli/firmware_checks.h"

namespace {

UpdateOutcome runHexDevice(const DeviceJob &job, DeviceRecord &record, RunReport &report, FirmwareFiles &files)
{
    const HexKind kind = hexKindOf(job.kind);
    report.phase(QStringLiteral("Loading the firmware file"));
    const LoadedHex loaded = files.hexFor(job);
    if (!loaded.result.ok())
        return hexLoadOutcome(loaded.result.error, kind.profile, kind.translationContext);
    const HexImage &hex = *loaded.hex;
    record.imageSha256 = loaded.imageSha256;
    record.productCode = hex.productCode;
    record.hardwareVersion = hex.hardwareVersion >> 12;   // the header keeps the digit in the top nibble
    if (report.stopRequested())
        return UpdateOutcome::aborted(QStringLiteral("Interrupted before anything was sent."));
    switch (job.kind) {
    case DeviceKind::Module:
        return runModules(job, hex, report, record);
    case DeviceKind::Canopen:
        return runCanopen(job, hex, report, record);
    default:
        return runCoupler(job, hex, report);
    }
}

}

DeviceRecord runDevice(const DeviceJob &job, DeviceProgress &progress, FirmwareFiles &files)
{
    DeviceRecord record;
    record.job = job;
    record.started = QDateTime::currentDateTimeUtc();
    RunReport report(record, progress);
    record.outcome = job.kind == DeviceKind::Ethercat ? runEthercat(job, report, record)
                                                      : runHexDevice(job, record, report, files);
    record.readBack = record.outcome.readBack;
    if (record.outcome.kind == UpdateOutcome::Kind::Verified)
        report.complete();
    report.finish();
    record.ended = QDateTime::currentDateTimeUtc();
    return record;
}
