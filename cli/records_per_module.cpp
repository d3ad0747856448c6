#include "cli/records_per_module.h"

#include "core/device_after_text.h"
#include "module/module_update_outcome.h"

#include <QStringList>

namespace {

using After = UpdateResult::DeviceAfter;

After afterOf(const DeviceRecord &range, int index)
{
    return size_t(index) < range.rangeAfter.size() ? range.rangeAfter[size_t(index)] : After::Unknown;
}

// The page's words for a single module written, read back and started.
UpdateOutcome startedWithNewFirmware(int module)
{
    UpdateResult verified = UpdateResult::ended(UpdateResult::Kind::Verified);
    verified.firstModule = verified.lastModule = module;
    return moduleUpdateOutcome(verified);
}

QString endedWith(const QList<int> &modules)
{
    QStringList numbers;
    for (int module : modules)
        numbers << QString::number(module);
    return QStringLiteral("Not started: the run of the range ended with module %1.").arg(numbers.join(", "));
}

// The module's own phases; the first module also keeps those of the whole run (loading the
// file, connecting, the checks), and the run's start.
void takePhases(const DeviceRecord &range, int module, bool first, DeviceRecord &own)
{
    own.phases.clear();
    for (const PhaseTime &phase : range.phases)
        if (phase.module == module || (first && phase.module == 0))
            own.phases.append(phase);
    if (own.phases.isEmpty())
        return;
    own.started = first ? range.started : own.phases.first().started;
    const PhaseTime &last = own.phases.last();
    own.ended = last.started.addMSecs(last.milliseconds);
}

DeviceRecord recordOfModule(const DeviceRecord &range, int module)
{
    const int index = module - range.job.firstModule;
    const After after = afterOf(range, index);
    DeviceRecord own = range;
    own.job.firstModule = own.job.lastModule = module;
    own.rangeAfter = {after};
    own.outcomeModules = {module};
    takePhases(range, module, index == 0, own);
    const bool carriesOutcome = range.outcomeModules.isEmpty() || range.outcomeModules.contains(module);
    if (after == After::NewFirmware) {
        own.outcome = startedWithNewFirmware(module);
        own.readBack = true;
        own.stoppedIn.clear();
    } else if (!carriesOutcome) {
        own.outcome = UpdateOutcome::aborted(endedWith(range.outcomeModules));
        own.readBack = false;
        own.stoppedIn.clear();
        own.started = own.ended = QDateTime();
    }
    own.outcome.deviceState = deviceAfterText(after, QStringLiteral("module %1").arg(module));
    own.outcome.readBack = own.readBack;
    return own;
}

}

QList<DeviceRecord> recordsPerDevice(const DeviceRecord &record)
{
    if (record.job.kind != DeviceKind::Module || record.job.firstModule == record.job.lastModule)
        return {record};
    QList<DeviceRecord> records;
    for (int module = record.job.firstModule; module <= record.job.lastModule; ++module)
        records.append(recordOfModule(record, module));
    return records;
}

QList<DeviceRecord> recordsPerDevice(const QList<DeviceRecord> &records)
{
    QList<DeviceRecord> split;
    for (const DeviceRecord &record : records)
        split.append(recordsPerDevice(record));
    return split;
}
