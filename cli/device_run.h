#pragma once

#include "cli/device_progress.h"
#include "cli/device_record.h"
#include "cli/firmware_files.h"

// One device's whole update: the firmware loaded as its page loads it (through `files`, once for
// all devices that take it), the page's procedure, the outcome with the page's exact text, every
// phase timed. Runs in the calling thread.
DeviceRecord runDevice(const DeviceJob &job, DeviceProgress &progress, FirmwareFiles &files);
