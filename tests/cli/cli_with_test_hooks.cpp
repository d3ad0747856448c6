// tarnlow-cli as the tests run it: the simulated couplers listen above port 1024 and the fixed
// waits are shortened, through the tests' two hooks. Built for the tests only; the program that
// ships reads no such variables.
#include "app/fixed_wait.h"
#include "cli/cli_main.h"
#include "module/modbus_port.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    bool set = false;
    const int modbusPort = qEnvironmentVariableIntValue("TARNLOW_TEST_MODBUS_PORT", &set);
    if (set)
        ModbusPort::setForTests(modbusPort);
    const int divisor = qEnvironmentVariableIntValue("TARNLOW_TEST_WAIT_DIVISOR", &set);
    if (set && divisor > 0)
        FixedWait::setFixedWaitDivisorForTests(divisor);
    return cliMain(application.arguments());
}
