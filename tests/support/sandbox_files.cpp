#include "tests/support/sandbox_files.h"

#include "tests/support/test_main.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

QString SandboxFiles::applicationDirectory()
{
    return TarnlowTest::sandboxDirectory();
}

QString SandboxFiles::write(const QString &relativePath, const QByteArray &content)
{
    const QString path = QDir(applicationDirectory()).filePath(relativePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(content);
    return QFileInfo(path).absoluteFilePath();
}

QString SandboxFiles::settingsFile()
{
    return QSettings().fileName();
}

QString SandboxFiles::sourceDirectory()
{
    return qEnvironmentVariable("TARNLOW_SOURCE_DIR");
}

QString SandboxFiles::binaryDirectory()
{
    return qEnvironmentVariable("TARNLOW_BINARY_DIR");
}
