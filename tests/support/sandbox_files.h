#pragma once

#include <QByteArray>
#include <QString>

// Files inside the test's sandbox (see test_main.h).
namespace SandboxFiles {

// The sandbox's directory (the firmware root the tests give the pages).
QString applicationDirectory();
// Writes `content` to `relativePath` below the application directory, creating folders.
// Returns the absolute path.
QString write(const QString &relativePath, const QByteArray &content);
// The settings file of the sandbox (native format of this platform).
QString settingsFile();
// Source tree and build tree, for tests that call the project's tools.
QString sourceDirectory();
QString binaryDirectory();

}
