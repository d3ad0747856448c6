#pragma once

// What a device runs after an update, in the technician's words and with the next step: the
// pages add it below their box's text, the command line to its outcome line and record.
#include "core/update_outcome.h"
#include "core/update_result.h"

#include <QString>

#include <vector>

// One device, named as in a sentence ("the coupler"); empty when nothing is known of it.
QString deviceAfterText(UpdateResult::DeviceAfter after, const QString &device);

// A range of devices from number `first` on, each named `noun` with its number ("module 3"),
// runs of the same state told together.
QString rangeAfterText(const std::vector<UpdateResult::DeviceAfter> &after, int first, const QString &noun);

// A kind's box for `result` with what the record keeps beside it: the device's state in
// `deviceState` words, and whether its flash was read back and compared.
UpdateOutcome withDeviceFacts(UpdateOutcome box, const UpdateResult &result, const QString &deviceState);
