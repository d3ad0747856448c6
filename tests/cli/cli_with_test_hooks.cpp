// tarnlow-cli as the tests run it: the simulated couplers listen above port 1024 and the fixed
// waits are shortened, both passed to the engines at construction. Built for the tests only; the
// program that ships reads no such variables.
#include "cli/cli_main.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    UpdateEnvironment environment;
    bool set = false;
    const int modbusPort = qEnvironmentVariableIntValue("TARNLOW_TEST_MODBUS_PORT", &set);
    if (set)
        environment.modbusPort = modbusPort;
    const int divisor = qEnvironmentVariableIntValue("TARNLOW_TEST_WAIT_DIVISOR", &set);
    if (set)
        environment.waits = FixedWaits(divisor);
    return cliMain(application.arguments(), environment);
}
