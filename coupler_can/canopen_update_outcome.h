#pragma once

#include "core/update_outcome.h"
#include "core/update_result.h"
#include "core/update_tools.h"

// The CANopen page's one box for a run's result, which the command line reports in the same
// words (none after Abort: the coupler stays in its boot loader).
UpdateOutcome canopenUpdateOutcome(const UpdateResult &result);

// The progress dialog's label for a phase of the run; the command line names its phases so too.
QString canopenPhaseLabel(UpdatePhase phase);
