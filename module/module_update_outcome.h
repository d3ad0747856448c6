#pragma once

#include "core/update_outcome.h"
#include "core/update_result.h"
#include "core/update_tools.h"

#include <QList>

// The module page's one box for a run's result, which the command line reports in the same
// words: titled with the application's name, the modules named, the registers that could not be
// read as informative text; a stop by the user is told too.
UpdateOutcome moduleUpdateOutcome(const UpdateResult &result);

// What module `module` of a range ended with, as a technician keeps it for each module alone:
// started with the new firmware, it is verified; the module the run ended at (or every module,
// when the run ended before one was asked: `outcomeModules` empty) carries the range's outcome;
// a module never reached is not started. The state sentence is the module's own.
UpdateOutcome moduleOutcomeInRange(const UpdateOutcome &range, const QList<int> &outcomeModules,
                                   UpdateResult::DeviceAfter after, int module);

// The progress dialog's label for a phase of `module`'s run; the command line names its phases
// so too.
QString modulePhaseLabel(UpdatePhase phase, int module);
