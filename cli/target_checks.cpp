#include "cli/target_checks.h"

#include "coupler_eth/coupler_boot_protocol.h"
#include "module/module_update_engine.h"

#include <QHostAddress>

namespace {

constexpr int kFirstModule = ModuleRange::kLowestModule;
constexpr int kLastModule = ModuleRange::kHighestModule;
// The CANopen node-ID range.
constexpr int kFirstNode = 1;
constexpr int kLastNode = 127;

bool isIpv4(const QString &text)
{
    QHostAddress address;
    return address.setAddress(text) && address.protocol() == QAbstractSocket::IPv4Protocol
        && text.count(QLatin1Char('.')) == 3;
}

QString ethernetProblem(const DeviceJob &job)
{
    if (!isIpv4(job.ip))
        return QStringLiteral("\"%1\" is not an IPv4 address").arg(job.ip);
    if (job.kind == DeviceKind::Module
        && (job.firstModule < kFirstModule || job.lastModule > kLastModule || job.firstModule > job.lastModule))
        return QStringLiteral("the modules %1-%2 are not a range within %3-%4")
            .arg(job.firstModule).arg(job.lastModule).arg(kFirstModule).arg(kLastModule);
    return QString();
}

}

QString checkListenPorts(int base, int jobs)
{
    if (base == 0)
        return QString();
    const qint64 last = qint64(base) + jobs - 1;
    const QString ports = jobs == 1 ? QStringLiteral("the listen port %1").arg(base)
                                    : QStringLiteral("the listen ports %1 to %2").arg(base).arg(last);
    if (base < 1 || last > 65535)
        return ports + (jobs == 1 ? QStringLiteral(" is") : QStringLiteral(" are")) + QStringLiteral(" not between 1 and 65535");
    if (jobs == 1 && base == CouplerBoot::kDevicePort)
        return ports + QStringLiteral(" is the coupler's boot port");
    if (base <= CouplerBoot::kDevicePort && CouplerBoot::kDevicePort <= last)
        return ports + QStringLiteral(" include %1, the coupler's boot port").arg(CouplerBoot::kDevicePort);
    return QString();
}

QString checkTarget(const DeviceJob &job, bool needsFirmware)
{
    if (needsFirmware && job.firmwareFile.isEmpty())
        return QStringLiteral("no firmware file named");
    switch (job.kind) {
    case DeviceKind::Coupler:
    case DeviceKind::Module:
        return ethernetProblem(job);
    case DeviceKind::Canopen:
        if (job.serialPort.isEmpty())
            return QStringLiteral("no serial port named");
        if (job.node < kFirstNode || job.node > kLastNode)
            return QStringLiteral("the node %1 is not between %2 and %3").arg(job.node).arg(kFirstNode).arg(kLastNode);
        return QString();
    case DeviceKind::Ethercat:
        return job.adapter.isEmpty() ? QStringLiteral("no network adapter named") : QString();
    }
    return QString();
}
