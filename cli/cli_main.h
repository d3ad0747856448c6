#pragma once

#include <QStringList>

// The whole command line, the program name first: parses, runs and returns the exit status.
// Needs a QCoreApplication.
int cliMain(const QStringList &arguments);
