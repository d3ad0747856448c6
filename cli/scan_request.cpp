#include "cli/scan_request.h"

#include "cli/target_checks.h"

#include <QFileInfo>

namespace {

// The port or adapter the kind needs, with the messages of the other verbs.
QString placeProblem(const ScanRequest &request)
{
    DeviceJob place;
    place.kind = request.kind;
    place.serialPort = request.serialPort;
    place.adapter = request.adapter;
    return request.kind == DeviceKind::Coupler ? QString() : checkTarget(place, false);
}

QString planProblem(const ScanRequest &request)
{
    if (request.planOut.isEmpty() != request.firmwareDir.isEmpty())
        return QStringLiteral("--plan-out FILE and --firmware-dir DIR go together: the plan takes its files from DIR");
    if (!request.firmwareDir.isEmpty() && !QFileInfo(request.firmwareDir).isDir())
        return QStringLiteral("the firmware folder %1 is not a folder").arg(request.firmwareDir);
    return QString();
}

}

QString readScanTarget(const QStringList &positional, ScanRequest &request)
{
    const QString kind = positional.value(0);
    if (kind == QLatin1String("coupler")) {
        request.kind = DeviceKind::Coupler;
        if (positional.size() != 2)
            return QStringLiteral("scan coupler takes one range of addresses, e.g. 192.168.1.0/24");
        request.rangeText = positional[1];
        request.range = parseScanRange(request.rangeText);
        if (!request.range.error.isEmpty())
            return request.range.error;
    } else if (kind == QLatin1String("canopen") || kind == QLatin1String("ethercat")) {
        request.kind = kind == QLatin1String("canopen") ? DeviceKind::Canopen : DeviceKind::Ethercat;
        if (positional.size() != 1)
            return QStringLiteral("scan %1 takes no range: unexpected argument \"%2\"").arg(kind, positional[1]);
    } else {
        return QStringLiteral("scan takes one of coupler RANGE, canopen, ethercat");
    }
    const QString place = placeProblem(request);
    return place.isEmpty() ? planProblem(request) : place;
}
