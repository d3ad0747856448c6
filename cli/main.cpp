// tarnlow-cli: the pages' updates without a window, one device or a plan of many, with progress
// on the terminal, a JSON record and an exit status a script can act on.
#include "cli/cli_main.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    return cliMain(application.arguments());
}
