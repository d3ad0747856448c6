#pragma once

#include "core/update_outcome.h"
#include "core/update_result.h"

// The coupler page's one box for a run's result, which the command line reports in the same
// words: the texts translated in the page's context, what else is known as informative text.
UpdateOutcome couplerUpdateOutcome(const UpdateResult &result);
