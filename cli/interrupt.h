#pragma once

// Ctrl-C (SIGINT) and SIGTERM act as Abort does on the page: the runs stop at their safe point,
// then the report is written. A second one asks to end at once (the report is still written); a
// third ends the program whatever it does.
namespace Interrupt {

void install();
bool requested();
bool insisted();

}
