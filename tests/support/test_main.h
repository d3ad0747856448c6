#pragma once

#include <QApplication>
#include <QtTest>

// Every test program runs in a sandbox of its own: a temporary directory that holds a copy of
// the test executable (so QCoreApplication::applicationDirPath(), where the pages look for their
// firmware folders, is the sandbox) and the settings store (XDG_CONFIG_HOME). The user's own
// settings and folders are never touched. The sandbox is removed when the test ends.
namespace TarnlowTest {

bool insideSandbox();
// Copies the executable into a fresh sandbox, runs it there and returns its exit status.
int runInSandbox(int argc, char **argv);
// The application identity every page expects (organisation, domain, application name).
void prepareApplication();

}

// main() of a program that runs in its sandbox with the application set up, then `body`.
#define TARNLOW_SANDBOXED_MAIN(body)                                                           \
    int main(int argc, char **argv)                                                            \
    {                                                                                          \
        if (!TarnlowTest::insideSandbox())                                                     \
            return TarnlowTest::runInSandbox(argc, argv);                                      \
        QApplication application(argc, argv);                                                  \
        TarnlowTest::prepareApplication();                                                     \
        body                                                                                   \
    }

#define TARNLOW_TEST_MAIN(TestClass)                                                           \
    TARNLOW_SANDBOXED_MAIN(TestClass testObject; return QTest::qExec(&testObject, argc, argv);)

// A benchmark driving a page: `run()`'s result is the exit status.
#define TARNLOW_BENCH_MAIN(run) TARNLOW_SANDBOXED_MAIN(return run();)
