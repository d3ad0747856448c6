#include "cli/device_scan.h"

#include "cli/device_info.h"

#include <QJsonArray>

ScanFindings scanEthercatSlaves(const QString &adapter)
{
    DeviceJob target;
    target.kind = DeviceKind::Ethercat;
    target.adapter = adapter;
    const DeviceInfo read = readEthercatInfo(target);
    ScanFindings findings;
    findings.failure = read.failure;
    for (const QJsonValue &slave : read.json.value("slaves").toArray()) {
        QJsonObject facts = slave.toObject();
        facts.insert("adapter", adapter);
        findings.devices << facts;
    }
    if (read.failure.isEmpty())
        findings.summary = QStringLiteral("%1 slave(s) on %2").arg(findings.devices.size()).arg(adapter);
    return findings;
}
