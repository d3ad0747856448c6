#include "cli/scan_plan.h"

#include "cli/firmware_checks.h"
#include "cli/scan_table.h"
#include "core/hex_text.h"
#include "firmware/hardware_version.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

#include <algorithm>

namespace {

// A value as info's JSON holds one that was read ("0x0702"); nothing for "not read: ...".
std::optional<uint32_t> valueRead(const QJsonValue &text)
{
    bool converted = false;
    const uint32_t value = text.toString().toUInt(&converted, 16);
    if (!converted || !text.toString().startsWith(QLatin1String("0x")))
        return std::nullopt;
    return value;
}

// The update's comparisons: the Ethernet coupler's compatibility check and the module engine's
// both want the product code equal and the hardware version as firmwareFitsHardware says; the
// CANopen update compares the product code only, of a file whose header names one.
bool fits(DeviceKind kind, const HexImage &hex, uint32_t productCode, std::optional<uint16_t> hardwareVersion)
{
    if (kind == DeviceKind::Canopen)
        return hex.productCode != HexPageProfile::canopen().defaultProductCode && hex.productCode == productCode;
    return hex.productCode == productCode && hardwareVersion && firmwareFitsHardware(hex.hardwareVersion, *hardwareVersion);
}

// One device or module range: what it is called in comments, its plan line without the file.
struct Target {
    QString name;        // "127.0.3.1", "127.0.3.1 module 2", "/dev/ttyACM0 node 5"
    QString linePrefix;  // "coupler, 127.0.3.1", "module, 127.0.3.1, 2", "canopen, /dev/ttyACM0, 5"
    DeviceKind kind;
    std::optional<uint32_t> productCode;
    std::optional<uint16_t> hardwareVersion;   // Ethernet coupler and modules only
};

QString withoutFirmwareText(const Target &target, const QString &folder)
{
    if (!target.productCode || (target.kind != DeviceKind::Canopen && !target.hardwareVersion))
        return QStringLiteral("# %1: its product code or hardware version was not read; no firmware chosen").arg(target.name);
    if (target.kind == DeviceKind::Canopen)
        return QStringLiteral("# %1: no firmware in %2 for product code %3").arg(target.name, folder, hexText(*target.productCode, 8));
    return QStringLiteral("# %1: no firmware in %2 for product code %3, hardware version %4")
        .arg(target.name, folder, hexText(*target.productCode, 4), hexText(*target.hardwareVersion, 4));
}

// The last of the fitting files, after a comment naming the others.
void addLine(const Target &target, const QStringList &fitting, ScanPlan &plan)
{
    QStringList others = fitting;
    const QString taken = others.takeLast();
    if (!others.isEmpty()) {
        QStringList names;
        for (const QString &other : others)
            names << QFileInfo(other).fileName();
        plan.lines << QStringLiteral("# %1: fitting too: %2; %3, the name sorted last, is taken")
                          .arg(target.name, names.join(QLatin1String(", ")), QFileInfo(taken).fileName());
    }
    plan.lines << target.linePrefix + QStringLiteral(", ") + taken;
    ++plan.deviceLines;
}

QStringList fittingFor(const Target &target, FirmwareFolder &firmware)
{
    if (!target.productCode)
        return {};
    return firmware.fitting(target.kind, *target.productCode, target.hardwareVersion);
}

void planTarget(const Target &target, FirmwareFolder &firmware, ScanPlan &plan)
{
    const QStringList fitting = fittingFor(target, firmware);
    if (!fitting.isEmpty())
        return addLine(target, fitting, plan);
    plan.lines << withoutFirmwareText(target, firmware.path());
    ++plan.withoutFirmware;
}

// The modules that answered, each with the files that fit it; neighbours that take the same
// file go into one range, as one line of the plan.
void planModules(const QString &ip, const QJsonArray &modules, FirmwareFolder &firmware, ScanPlan &plan)
{
    QList<Target> targets;
    QList<int> numbers;
    QList<QStringList> fitting;
    for (const QJsonValue &module : modules) {
        if (module["productCode"].isUndefined())
            continue;   // the first module that did not answer: the end of the bank
        numbers << module["module"].toInt();
        targets << Target{QStringLiteral("%1 module %2").arg(ip).arg(numbers.last()), QString(), DeviceKind::Module,
                          valueRead(module["productCode"]), valueRead(module["hardwareVersion"])};
        fitting << fittingFor(targets.last(), firmware);
    }
    for (int first = 0; first < targets.size();) {
        int last = first;
        while (!fitting[first].isEmpty() && last + 1 < targets.size() && fitting[last + 1] == fitting[first]
               && numbers[last + 1] == numbers[last] + 1)
            ++last;
        const int firstModule = numbers[first];
        const int lastModule = numbers[last];
        Target range = targets[first];
        range.linePrefix = QStringLiteral("module, %1, %2").arg(ip, firstModule == lastModule ? QString::number(firstModule)
                                                                 : QStringLiteral("%1-%2").arg(firstModule).arg(lastModule));
        if (lastModule > firstModule)
            range.name = QStringLiteral("%1 modules %2-%3").arg(ip).arg(firstModule).arg(lastModule);
        planTarget(range, firmware, plan);
        first = last + 1;
    }
}

QString ethercatComment(const QJsonObject &slave)
{
    const QString what = QStringLiteral("# %1 (product code %2, \"%3\"): ")
                             .arg(foundDeviceName(slave), slave["product"].toString(), slave["name"].toString());
    if (slave["position"].toInt() != 1)
        return what + QStringLiteral("not updated by tarnlow-cli, which reaches the first slave of a segment only");
    return what + QStringLiteral("EtherCAT firmware files carry no header that names their device; add "
                                 "\"ethercat, %1, FILE\" by hand").arg(slave["adapter"].toString());
}

void planDevice(DeviceKind kind, const QJsonObject &device, FirmwareFolder &firmware, ScanPlan &plan)
{
    if (kind == DeviceKind::Ethercat) {
        plan.lines << ethercatComment(device);
        ++plan.withoutFirmware;
    } else if (kind == DeviceKind::Canopen) {
        planTarget({foundDeviceName(device),
                    QStringLiteral("canopen, %1, %2").arg(device["port"].toString()).arg(device["node"].toInt()),
                    kind, valueRead(device["product code"]), std::nullopt},
                   firmware, plan);
    } else {
        const QString ip = device["coupler"].toString();
        planTarget({ip, QStringLiteral("coupler, ") + ip, kind, valueRead(device["productCode"]),
                    valueRead(device["hardwareVersion"])},
                   firmware, plan);
        planModules(ip, device["modules"].toArray(), firmware, plan);
    }
}

}

FirmwareFolder::FirmwareFolder(const QString &folder, std::function<void(const QString &)> note)
    : m_folder(QFileInfo(folder).absoluteFilePath()), m_note(std::move(note))
{
    for (const QFileInfo &file : QDir(m_folder).entryInfoList({QStringLiteral("*.hex")}, QDir::Files))
        m_files << file.absoluteFilePath();
    std::sort(m_files.begin(), m_files.end());
}

bool FirmwareFolder::usable(DeviceKind kind, const QString &file)
{
    if (m_leftOut.contains(file))
        return false;
    DeviceJob job;
    job.kind = kind;
    job.firmwareFile = file;
    QString problem = firmwareProblem(job, m_loaded);
    if (problem.isEmpty() && file.contains(QLatin1Char(',')))
        problem = QStringLiteral("the path of %1 holds a comma, which a plan line cannot carry").arg(file);
    if (problem.isEmpty())
        return true;
    m_leftOut.insert(file);
    m_note(QStringLiteral("left out of the plan: ") + problem);
    return false;
}

QStringList FirmwareFolder::fitting(DeviceKind kind, uint32_t productCode, std::optional<uint16_t> hardwareVersion)
{
    QStringList found;
    for (const QString &file : m_files) {
        if (!usable(kind, file))
            continue;
        DeviceJob job;
        job.kind = kind;
        job.firmwareFile = file;
        if (fits(kind, *m_loaded.hexFor(job).hex, productCode, hardwareVersion))
            found << file;
    }
    return found;
}

ScanPlan planForFound(DeviceKind kind, const QList<QJsonObject> &devices, FirmwareFolder &firmware, const QString &origin)
{
    ScanPlan plan;
    plan.lines << QStringLiteral("# ") + origin;
    for (const QJsonObject &device : devices)
        planDevice(kind, device, firmware, plan);
    return plan;
}
