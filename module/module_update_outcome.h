#pragma once

#include "core/update_outcome.h"
#include "core/update_result.h"
#include "core/update_tools.h"

// The module page's one box for a run's result, which the command line reports in the same
// words: titled with the application's name, the modules named, the registers that could not be
// read as informative text; a stop by the user is told too.
UpdateOutcome moduleUpdateOutcome(const UpdateResult &result);

// The progress dialog's label for a phase of `module`'s run; the command line names its phases
// so too.
QString modulePhaseLabel(UpdatePhase phase, int module);
