#pragma once

#include "cli/device_job.h"

// Why the job's target cannot be a device (an address that is not IPv4, a module or node number
// out of range, no firmware file named where one is needed); empty when it can. Checked before
// anything is sent.
QString checkTarget(const DeviceJob &job, bool needsFirmware = true);

// The listen ports of `jobs` couplers updated at once, from `base` up; 0 lets the system choose
// each one.
QString checkListenPorts(int base, int jobs);
