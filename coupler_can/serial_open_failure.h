#pragma once

#include "core/update_outcome.h"

#include <QString>

#include <exception>

// The box of a serial port that did not open, as the page and the command line show it: titled
// with the port ("Open Serial COM3 failed"), the failure's text, and what the system said of it
// as informative text.
UpdateOutcome serialOpenFailure(const QString &portName, const std::exception &failure);
