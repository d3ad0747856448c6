#include "cli/scan_table.h"

#include <QJsonArray>

#include <algorithm>

namespace {

using Row = QStringList;

// "0x0A31/0x1000, 0x0A31/0x1000": the modules that answered, module 1 first; "none".
QString modulesText(const QJsonArray &modules)
{
    QStringList answered;
    for (const QJsonValue &module : modules)
        if (!module["productCode"].isUndefined())
            answered << module["productCode"].toString() + QLatin1Char('/') + module["hardwareVersion"].toString();
    return answered.isEmpty() ? QStringLiteral("none") : answered.join(QLatin1String(", "));
}

Row rowOf(DeviceKind kind, const QJsonObject &device)
{
    const QString name = foundDeviceName(device);
    switch (kind) {
    case DeviceKind::Canopen:
        return {name, device["product code"].toString(), device["revision number"].toString(), device["running"].toString()};
    case DeviceKind::Ethercat:
        return {name, device["product"].toString(), device["revision"].toString(), device["state"].toString(),
                device["name"].toString()};
    default:
        return {name, device["productCode"].toString(), device["hardwareVersion"].toString(),
                modulesText(device["modules"].toArray())};
    }
}

Row headerOf(DeviceKind kind)
{
    switch (kind) {
    case DeviceKind::Canopen:
        return {"PORT AND NODE", "PRODUCT CODE", "REVISION", "RUNNING"};
    case DeviceKind::Ethercat:
        return {"ADAPTER AND SLAVE", "PRODUCT CODE", "REVISION", "STATE", "NAME"};
    default:
        return {"ADDRESS", "PRODUCT CODE", "HARDWARE VERSION", "MODULES (PRODUCT CODE/HARDWARE VERSION)"};
    }
}

QStringList aligned(const QList<Row> &rows)
{
    QList<int> widths;
    for (const Row &row : rows)
        for (int column = 0; column < row.size(); ++column) {
            if (widths.size() <= column)
                widths << 0;
            widths[column] = std::max(widths[column], int(row[column].size()));
        }
    QStringList lines;
    for (const Row &row : rows) {
        QString line;
        for (int column = 0; column + 1 < row.size(); ++column)
            line += row[column].leftJustified(widths[column] + 2);
        lines << line + row.last();
    }
    return lines;
}

}

QString foundDeviceName(const QJsonObject &device)
{
    if (device.contains("port"))
        return QStringLiteral("%1 node %2").arg(device["port"].toString()).arg(device["node"].toInt());
    if (device.contains("adapter"))
        return QStringLiteral("%1 slave %2").arg(device["adapter"].toString()).arg(device["position"].toInt());
    return device["coupler"].toString();
}

QStringList scanTable(DeviceKind kind, const QList<QJsonObject> &devices)
{
    QList<Row> rows = {headerOf(kind)};
    for (const QJsonObject &device : devices)
        rows << rowOf(kind, device);
    return aligned(rows);
}
