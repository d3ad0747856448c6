#include "tests/support/test_main.h"

#include "core/application_identity.h"

#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

// Lives until the program ends; removed then unless TARNLOW_KEEP_SANDBOX is set.
QTemporaryDir &sandbox()
{
    static QTemporaryDir directory(QDir::tempPath() + QStringLiteral("/tarnlow-test-XXXXXX"));
    return directory;
}

}

void TarnlowTest::enterSandbox()
{
    if (!sandbox().isValid()) {
        std::fprintf(stderr, "no sandbox: %s\n", qPrintable(sandbox().errorString()));
        std::exit(1);
    }
    if (std::getenv("TARNLOW_KEEP_SANDBOX")) {
        sandbox().setAutoRemove(false);
        std::fprintf(stderr, "sandbox kept: %s\n", qPrintable(sandbox().path()));
    }
    // Settings and the update history of the test's pages and command lines, never the user's.
    const QString config = sandbox().filePath(QStringLiteral("config"));
    const QString data = sandbox().filePath(QStringLiteral("data"));
    QDir().mkpath(config);
    QDir().mkpath(data);
    qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
    qputenv("XDG_DATA_HOME", data.toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

QString TarnlowTest::sandboxDirectory()
{
    return sandbox().path();
}

void TarnlowTest::prepareApplication()
{
    ApplicationIdentity::apply();
}

UpdateEnvironment TarnlowTest::environment(int waitDivisor, int modbusPort)
{
    UpdateEnvironment environment;
    environment.waits = FixedWaits(waitDivisor);
    environment.modbusPort = modbusPort;
    environment.firmwareRoot = sandboxDirectory();
    return environment;
}
