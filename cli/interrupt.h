#pragma once

// Ctrl-C (SIGINT) and SIGTERM act as Abort does on the page: the runs stop at their safe point,
// then the report is written. A second Ctrl-C ends the program at once.
namespace Interrupt {

void install();
bool requested();

}
