#include "cli/device_record.h"

QString outcomeName(const DeviceRecord &record)
{
    UpdateOutcome named = record.outcome;
    named.readBack = record.readBack;
    return named.name();
}
