#pragma once

// tarnlow-cli as a test starts it: the tests' build, which takes the Modbus port of the test's
// simulated couplers and divides the fixed waits, or the program as it ships. Local time is UTC,
// so the times it prints are known.
#include <QProcess>
#include <QString>
#include <QStringList>

namespace CliProcess {

constexpr int kWaitDivisor = 20;

// The port every simulated coupler of the test program serves Modbus TCP on, found free once.
int modbusPort();

struct Run {
    int status = -1;   // -1: it crashed or did not end within a minute
    QString out;
    QString err;
};

enum class Build { WithTestHooks, AsShipped };

// Started, not waited for; the caller hands it to finished().
QProcess *start(const QStringList &arguments, Build build = Build::WithTestHooks);
// Waits for its end and deletes it.
Run finished(QProcess *cli);
Run run(const QStringList &arguments, Build build = Build::WithTestHooks);

}
