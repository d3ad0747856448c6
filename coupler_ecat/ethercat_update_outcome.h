#pragma once

#include "core/update_outcome.h"
#include "core/update_result.h"

// The EtherCAT page's one box for a run's result, which the command line reports in the same
// words: success once every packet is acknowledged, one failure text with the cause as
// informative text, nothing after Abort. Below it, what the coupler runs now with the AL state
// it was left in (and a hint when it did not leave BOOT cleanly).
UpdateOutcome ethercatUpdateOutcome(const UpdateResult &result);
