#include "cli/scan_run.h"

#include "cli/device_scan.h"
#include "cli/scan_plan.h"
#include "cli/scan_table.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

namespace {

ScanFindings scan(const ScanRequest &request, const UpdateEnvironment &environment)
{
    switch (request.kind) {
    case DeviceKind::Canopen:
        return scanCanopenNodes(request.serialPort);
    case DeviceKind::Ethercat:
        return scanEthercatSlaves(request.adapter);
    default:
        return scanCouplers(request.range, request.rangeText, environment);
    }
}

// "scan coupler 127.0.3.0/24", "scan canopen --port /dev/ttyACM0".
QString scanCommand(const ScanRequest &request)
{
    switch (request.kind) {
    case DeviceKind::Canopen:
        return QStringLiteral("scan canopen --port ") + request.serialPort;
    case DeviceKind::Ethercat:
        return QStringLiteral("scan ethercat --adapter ") + request.adapter;
    default:
        return QStringLiteral("scan coupler ") + request.rangeText;
    }
}

void print(const ScanRequest &request, const ScanFindings &findings, QTextStream &out)
{
    if (request.json) {
        QJsonArray devices;
        for (const QJsonObject &device : findings.devices)
            devices.append(device);
        out << QJsonDocument(devices).toJson(QJsonDocument::Indented);
        return;
    }
    if (!findings.devices.isEmpty())
        out << scanTable(request.kind, findings.devices).join(QLatin1Char('\n')) << '\n';
}

// The plan for the devices found; false (and why, on `err`) when it could not be written.
bool writePlan(const ScanRequest &request, const ScanFindings &findings, QTextStream &notes, QTextStream &err)
{
    FirmwareFolder firmware(request.firmwareDir, [&err](const QString &note) { err << "tarnlow-cli: " << note << '\n'; });
    const QString origin = QStringLiteral("devices found by tarnlow-cli %1; firmware from %2")
                               .arg(scanCommand(request), firmware.path());
    const ScanPlan plan = planForFound(request.kind, findings.devices, firmware, origin);
    QSaveFile file(request.planOut);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text) || file.write((plan.lines.join('\n') + '\n').toUtf8()) < 0
        || !file.commit()) {
        err << "tarnlow-cli: the plan could not be written to " << request.planOut << ": " << file.errorString() << '\n';
        return false;
    }
    notes << QStringLiteral("plan %1: %2 line(s) to update, %3 device(s) without firmware in %4")
                 .arg(request.planOut).arg(plan.deviceLines).arg(plan.withoutFirmware).arg(firmware.path())
          << '\n';
    return true;
}

}

int runScan(const ScanRequest &request, const UpdateEnvironment &environment, QTextStream &out, QTextStream &err)
{
    const ScanFindings findings = scan(request, environment);
    if (!findings.failure.isEmpty()) {
        err << "tarnlow-cli: " << findings.failure << '\n';
        return 1;
    }
    print(request, findings, out);
    // With --json only the JSON goes to standard output, so that a program can read it whole.
    QTextStream &notes = request.json ? err : out;
    notes << findings.summary << '\n';
    notes.flush();
    const bool planWritten = request.planOut.isEmpty() || writePlan(request, findings, notes, err);
    out.flush();
    err.flush();
    return !findings.devices.isEmpty() && planWritten ? 0 : 1;
}
