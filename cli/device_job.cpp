#include "cli/device_job.h"

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

QString DeviceJob::resource() const
{
    switch (kind) {
    case DeviceKind::Coupler:
    case DeviceKind::Module:
        return QStringLiteral("ip:") + ip;
    case DeviceKind::Canopen:
        return QStringLiteral("serial:") + serialPort;
    case DeviceKind::Ethercat:
        return QStringLiteral("adapter:") + adapter;
    }
    return QString();
}
