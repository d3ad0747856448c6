#pragma once

#include "core/update_environment.h"

#include <QStringList>

// The whole command line, the program name first: parses, runs and returns the exit status.
// Every device's engine is built with `environment`. Needs a QCoreApplication.
int cliMain(const QStringList &arguments, const UpdateEnvironment &environment = UpdateEnvironment());
