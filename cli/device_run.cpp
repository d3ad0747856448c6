#include "cli/device_run.h"

#include "cli/device_runners.h"
#include "cli/firmware_checks.h"

#include <QCryptographicHash>

namespace {

QString sha256Of(const HexImage &hex)
{
    const QByteArray image(reinterpret_cast<const char *>(hex.image.data()), hex.imageLength);
    return QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex();
}

UpdateOutcome runHexDevice(const DeviceJob &job, DeviceRecord &record, RunReport &report)
{
    const HexKind kind = hexKindOf(job.kind);
    report.phase(QStringLiteral("Loading the firmware file"));
    HexImage hex(kind.profile);
    hex.fileName = job.firmwareFile.toStdString();
    const HexLoadResult loaded = loadHexImage(hex, kind.profile);
    if (!loaded.ok())
        return hexLoadOutcome(loaded.error, kind.profile, kind.translationContext);
    record.imageSha256 = sha256Of(hex);
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

DeviceRecord runDevice(const DeviceJob &job, DeviceProgress &progress)
{
    DeviceRecord record;
    record.job = job;
    record.started = QDateTime::currentDateTimeUtc();
    RunReport report(record, progress);
    record.outcome = job.kind == DeviceKind::Ethercat ? runEthercat(job, report, record)
                                                      : runHexDevice(job, record, report);
    record.readBack = record.outcome.readBack;
    if (record.outcome.kind == UpdateOutcome::Kind::Verified)
        report.complete();
    report.finish();
    record.ended = QDateTime::currentDateTimeUtc();
    return record;
}
