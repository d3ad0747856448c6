#pragma once

// `tarnlow-cli scan`: runs the scan a request asks for and prints what it found, as a table or
// as JSON, and writes the plan when asked.
#include "cli/scan_request.h"
#include "core/update_environment.h"

#include <QTextStream>

// 0 when at least one device was found (and the plan, when asked, written); 1 when none was,
// the port or adapter could not be opened, or the plan could not be written.
int runScan(const ScanRequest &request, const UpdateEnvironment &environment, QTextStream &out, QTextStream &err);
