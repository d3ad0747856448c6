#pragma once

#include "core/update_outcome.h"
#include "core/update_result.h"
#include "core/update_tools.h"

// The coupler page's one box for a run's result, which the command line reports in the same
// words: the texts translated in the page's context, what else is known as informative text.
UpdateOutcome couplerUpdateOutcome(const UpdateResult &result);

// The progress dialog's label for a phase of the run; the command line names its phases so too.
QString couplerPhaseLabel(UpdatePhase phase);
