#include "cli/device_job.h"

#include "platform/com_port_table.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>

QString DeviceJob::kindName(DeviceKind kind)
{
    switch (kind) {
    case DeviceKind::Coupler:
        return QStringLiteral("coupler");
    case DeviceKind::Module:
        return QStringLiteral("module");
    case DeviceKind::Canopen:
        return QStringLiteral("canopen");
    case DeviceKind::Ethercat:
        return QStringLiteral("ethercat");
    }
    return QString();
}

QString DeviceJob::target() const
{
    switch (kind) {
    case DeviceKind::Coupler:
        return QStringLiteral("coupler %1").arg(ip);
    case DeviceKind::Module:
        return firstModule == lastModule
                   ? QStringLiteral("module %1 behind %2").arg(firstModule).arg(ip)
                   : QStringLiteral("modules %1-%2 behind %3").arg(firstModule).arg(lastModule).arg(ip);
    case DeviceKind::Canopen:
        return QStringLiteral("CANopen node %1 on %2").arg(node).arg(serialPort);
    case DeviceKind::Ethercat:
        return QStringLiteral("EtherCAT coupler on %1").arg(adapter);
    }
    return QString();
}

// One name per device however it is written: "COM200" and the device behind it, a link and its
// target, "192.168.001.010" and "192.168.1.10".
QString DeviceJob::resource() const
{
    switch (kind) {
    case DeviceKind::Coupler:
    case DeviceKind::Module:
        return QStringLiteral("ip:") + QHostAddress(ip).toString();
    case DeviceKind::Canopen: {
        const QRegularExpressionMatch com = QRegularExpression(QStringLiteral("^COM(\\d+)$")).match(serialPort);
        const QString path = com.hasMatch()
            ? QString::fromStdString(ComPortTable::devicePath(com.captured(1).toInt()))
            : serialPort;
        const QString canonical = QFileInfo(path).canonicalFilePath();
        return QStringLiteral("serial:") + (canonical.isEmpty() ? serialPort : canonical);
    }
    case DeviceKind::Ethercat:
        return QStringLiteral("adapter:") + adapter;
    }
    return QString();
}
