#pragma once

#include "core/update_environment.h"

#include <QApplication>
#include <QtTest>

// Every test program keeps its files in a sandbox of its own: a temporary directory that holds
// the settings store (XDG_CONFIG_HOME, set before the application starts) and the firmware
// folders, which the pages are given as their firmware root. The user's own settings and folders
// are never touched. The sandbox is removed when the test ends.
namespace TarnlowTest {

// Makes the sandbox and points the settings store into it; call before the QApplication exists.
void enterSandbox();
// The sandbox's directory.
QString sandboxDirectory();
// The application identity every page expects (organisation, domain, application name).
void prepareApplication();
// The environment a page or engine under test is built with: the sandbox as firmware root, every
// fixed wait divided by `waitDivisor`, the couplers' Modbus servers on `modbusPort`.
UpdateEnvironment environment(int waitDivisor = 1, int modbusPort = UpdateEnvironment::kStandardModbusPort);

}

// main() of a program that runs in its sandbox with the application set up, then `body`.
#define TARNLOW_SANDBOXED_MAIN(body)                                                           \
    int main(int argc, char **argv)                                                            \
    {                                                                                          \
        TarnlowTest::enterSandbox();                                                           \
        QApplication application(argc, argv);                                                  \
        TarnlowTest::prepareApplication();                                                     \
        body                                                                                   \
    }

#define TARNLOW_TEST_MAIN(TestClass)                                                           \
    TARNLOW_SANDBOXED_MAIN(TestClass testObject; return QTest::qExec(&testObject, argc, argv);)

// A benchmark driving a page: `run()`'s result is the exit status.
#define TARNLOW_BENCH_MAIN(run) TARNLOW_SANDBOXED_MAIN(return run();)
