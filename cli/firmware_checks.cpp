#include "cli/firmware_checks.h"

#include "coupler_ecat/ethercat_coupler_update.h"

#include <QFileInfo>
#include <QHash>

HexKind hexKindOf(DeviceKind kind)
{
    switch (kind) {
    case DeviceKind::Module:
        return {HexPageProfile::module(), "ModuleFirmwareWidget"};
    case DeviceKind::Canopen:
        return {HexPageProfile::canopen(), "OsmerinRemoteIOFirmwareUpdater"};
    default:
        return {HexPageProfile::coupler(), "CouplerFirmwareWidget"};
    }
}

namespace {

QString ethercatFileProblem(const QString &path)
{
    const QFileInfo file(path);
    if (!file.isFile() || !file.isReadable())
        return QStringLiteral("the firmware file %1 cannot be read").arg(path);
    if (file.size() == 0 || file.size() > firmwareBufferSize)
        return QStringLiteral("the firmware file %1 is empty or larger than %2 bytes").arg(path).arg(firmwareBufferSize);
    if (const std::optional<UpdateResult> refusal = refuseFileForAnotherPage(path.toStdString()))
        return QString::fromStdString(refusal->detail);
    return QString();
}

}

QString firmwareProblem(const DeviceJob &job, FirmwareFiles &files)
{
    if (job.kind == DeviceKind::Ethercat)
        return ethercatFileProblem(job.firmwareFile);
    const LoadedHex loaded = files.hexFor(job);
    if (loaded.result.ok())
        return QString();
    return QStringLiteral("the firmware file %1 does not load: %2")
        .arg(job.firmwareFile, hexLoadErrorText(loaded.result.error, hexKindOf(job.kind).profile));
}

QStringList firmwareProblems(const QList<DeviceJob> &jobs, const QString &planPath, FirmwareFiles &files)
{
    QHash<QString, QString> problemOf;   // by kind and path
    QStringList problems;
    for (const DeviceJob &job : jobs) {
        const QString key = QString::number(int(job.kind)) + QLatin1Char(':') + job.firmwareFile;
        if (!problemOf.contains(key))
            problemOf.insert(key, firmwareProblem(job, files));
        if (!problemOf[key].isEmpty())
            problems << QStringLiteral("%1 line %2: %3").arg(planPath).arg(job.planLine).arg(problemOf[key]);
    }
    return problems;
}
