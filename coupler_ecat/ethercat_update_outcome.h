#pragma once

#include "core/update_outcome.h"
#include "core/update_result.h"

// The EtherCAT page's one box for a run's result, which the command line reports in the same
// words: success once every packet is acknowledged (with a hint when the coupler did not leave
// BOOT cleanly), one failure text with the cause as informative text, nothing after Abort.
UpdateOutcome ethercatUpdateOutcome(const UpdateResult &result);
