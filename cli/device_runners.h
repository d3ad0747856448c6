#pragma once

// One runner per device kind: the page's procedure on the shared engine, its outcome the text
// the page would show. The image is loaded; nothing has been sent yet.
#include "core/update_outcome.h"
#include "cli/device_job.h"
#include "cli/run_report.h"
#include "firmware/hex_image.h"

UpdateOutcome runCoupler(const DeviceJob &job, const HexImage &hex, RunReport &report);
// What each module of the range runs afterwards goes to the record.
UpdateOutcome runModules(const DeviceJob &job, const HexImage &hex, RunReport &report, DeviceRecord &record);
// The CANopen coupler's product code goes to the record; one that differs from the product code
// the file's header names is warned of on standard error, and the update goes on.
UpdateOutcome runCanopen(const DeviceJob &job, const HexImage &hex, RunReport &report, DeviceRecord &record);
// The EtherCAT coupler takes its file as it is; the record receives the hash of what was read
// for sending and the AL state the coupler was left in.
UpdateOutcome runEthercat(const DeviceJob &job, RunReport &report, DeviceRecord &record);
