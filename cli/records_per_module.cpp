#include "cli/records_per_module.h"

#include "module/module_update_outcome.h"


namespace {

using After = UpdateResult::DeviceAfter;

After afterOf(const DeviceRecord &range, int index)
{
    return size_t(index) < range.rangeAfter.size() ? range.rangeAfter[size_t(index)] : After::Unknown;
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
    own.outcome = moduleOutcomeInRange(range.outcome, range.outcomeModules, after, module);
    own.readBack = own.outcome.readBack;
    const bool carriesOutcome = range.outcomeModules.isEmpty() || range.outcomeModules.contains(module);
    if (after == After::NewFirmware || !carriesOutcome)
        own.stoppedIn.clear();
    if (after != After::NewFirmware && !carriesOutcome)
        own.started = own.ended = QDateTime();   // never reached
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
