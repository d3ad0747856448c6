#pragma once

#include "cli/device_record.h"

#include <QList>

// A module range's run as one record per module, as a technician keeps them: each module named
// alone, with what it runs now. A module started with the new firmware is verified; the one the
// run ended at (or every module, when the run ended before one was asked) carries the range's
// outcome; a module never reached is not started. Any other record stays as it is.
QList<DeviceRecord> recordsPerDevice(const DeviceRecord &record);
QList<DeviceRecord> recordsPerDevice(const QList<DeviceRecord> &records);
