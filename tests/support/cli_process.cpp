#include "tests/support/cli_process.h"

#include "tests/support/free_port.h"
#include "tests/support/sandbox_files.h"

#include <memory>

namespace CliProcess {

int modbusPort()
{
    static const int port = FreePort::tcp("127.0.0.1");
    return port;
}

QProcess *start(const QStringList &arguments, Build build)
{
    auto *cli = new QProcess;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TARNLOW_TEST_MODBUS_PORT", QString::number(modbusPort()));
    environment.insert("TARNLOW_TEST_WAIT_DIVISOR", QString::number(kWaitDivisor));
    environment.insert("TZ", "UTC");
    cli->setProcessEnvironment(environment);
    cli->start(SandboxFiles::binaryDirectory()
                   + (build == Build::AsShipped ? QStringLiteral("/bin/tarnlow-cli")
                                                : QStringLiteral("/tests/tarnlow-cli-with-test-hooks")),
               arguments);
    return cli;
}

Run finished(QProcess *cli)
{
    const std::unique_ptr<QProcess> owned(cli);
    Run run;
    if (!cli->waitForFinished(120000))
        return run;
    run.status = cli->exitStatus() == QProcess::NormalExit ? cli->exitCode() : -1;
    run.out = QString::fromUtf8(cli->readAllStandardOutput());
    run.err = QString::fromUtf8(cli->readAllStandardError());
    return run;
}

Run run(const QStringList &arguments, Build build)
{
    return finished(start(arguments, build));
}

}
