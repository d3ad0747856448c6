#include "cli/json_report.h"

#include "core/hex_text.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

QJsonObject targetOf(const DeviceJob &job)
{
    QJsonObject target{{"kind", DeviceJob::kindName(job.kind)}, {"description", job.target()}};
    switch (job.kind) {
    case DeviceKind::Coupler:
        target.insert("ip", job.ip);
        target.insert("listenPort", job.listenPort);
        break;
    case DeviceKind::Module:
        target.insert("ip", job.ip);
        target.insert("firstModule", job.firstModule);
        target.insert("lastModule", job.lastModule);
        target.insert("advanceMode", job.advanceMode);
        break;
    case DeviceKind::Canopen:
        target.insert("port", job.serialPort);
        target.insert("node", job.node);
        break;
    case DeviceKind::Ethercat:
        target.insert("adapter", job.adapter);
        break;
    }
    if (job.planLine > 0)
        target.insert("planLine", job.planLine);
    return target;
}

// Null for a device that was never started.
QJsonValue timeOf(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(time.toString(Qt::ISODateWithMs)) : QJsonValue();
}

QJsonObject deviceFactsOf(const DeviceRecord::DeviceFacts &device)
{
    QJsonObject facts;
    if (device.productCode)
        facts.insert("productCode", hexText(*device.productCode, 8));
    if (!device.name.isEmpty())
        facts.insert("name", device.name);
    if (!device.alState.isEmpty())
        facts.insert("alState", device.alState);
    return facts;
}

QJsonObject deviceOf(const DeviceRecord &record)
{
    QJsonArray phases;
    for (const PhaseTime &phase : record.phases)
        phases.append(QJsonObject{{"name", phase.name}, {"milliseconds", phase.milliseconds}});
    QJsonObject header;
    if (record.productCode)
        header.insert("productCode", hexText(*record.productCode, 4));
    if (record.hardwareVersion)
        header.insert("hardwareVersion", *record.hardwareVersion);
    return QJsonObject{
        {"target", targetOf(record.job)},
        {"firmwareFile", record.job.firmwareFile},
        {"imageSha256", record.imageSha256.isEmpty() ? QJsonValue() : QJsonValue(record.imageSha256)},
        {"header", header},
        {"started", timeOf(record.started)},
        {"ended", timeOf(record.ended)},
        {"milliseconds", record.started.isValid() ? QJsonValue(record.started.msecsTo(record.ended)) : QJsonValue()},
        {"phases", phases},
        {"outcome", outcomeName(record)},
        {"readBack", record.readBack},
        {"deviceState", record.outcome.deviceState.isEmpty() ? QJsonValue() : QJsonValue(record.outcome.deviceState)},
        {"stoppedIn", record.stoppedIn.isEmpty() ? QJsonValue() : QJsonValue(record.stoppedIn)},
        {"device", record.device.known() ? QJsonValue(deviceFactsOf(record.device)) : QJsonValue()},
        {"title", record.outcome.title.isEmpty() ? QCoreApplication::applicationName() : record.outcome.title},
        {"message", record.outcome.text},
        {"detail", record.outcome.informative},
        {"history", record.historyNotKept.isEmpty() ? QJsonValue(QStringLiteral("kept"))
                                                    : QJsonValue(QStringLiteral("not kept: ") + record.historyNotKept)},
    };
}

}

QByteArray jsonReport(const QList<DeviceRecord> &records, int exitStatus)
{
    QJsonArray devices;
    for (const DeviceRecord &record : records)
        devices.append(deviceOf(record));
    return QJsonDocument(QJsonObject{{"devices", devices}, {"exitStatus", exitStatus}}).toJson();
}

bool writeJsonReport(const QString &path, const QList<DeviceRecord> &records, int exitStatus, QString &failure)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(jsonReport(records, exitStatus)) < 0 || !file.commit()) {
        failure = file.errorString();
        return false;
    }
    return true;
}
