#include "page_support/firmware_folder_panel.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextEdit>
#include <QTextStream>

FirmwareFolder FirmwareFolder::coupler()
{
    return {QStringLiteral("Coupler Firmware"), {QStringLiteral("*.HEX"), QStringLiteral("*.hex")},
            QStringLiteral("Coupler/Settings/filename")};
}

FirmwareFolder FirmwareFolder::module()
{
    return {QStringLiteral("Module Firmware"), {QStringLiteral("*.HEX"), QStringLiteral("*.hex")},
            QStringLiteral("Module/Settings/filename")};
}

FirmwareFolder FirmwareFolder::canopen()
{
    return {QStringLiteral("COP Firmware"), {QStringLiteral("*.HEX"), QStringLiteral("*.hex")},
            QStringLiteral("Settings/filename")};
}

FirmwareFolder FirmwareFolder::ethercat()
{
    return {QStringLiteral("ECAT Firmware"), {QStringLiteral("*.BIN"), QStringLiteral("*.bin")},
            QStringLiteral("Settings/filename")};
}

QString FirmwareFolder::path(const QString &root) const
{
    const QDir rootDir(root.isEmpty() ? QDir::fromNativeSeparators(QCoreApplication::applicationDirPath()) : root);
    return rootDir.filePath(folderName);
}

static QString readReadme(const QDir &folder)
{
    QFile file(folder.filePath(QStringLiteral("README.txt")));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream stream(&file); // locale encoding unless the file starts with a byte-order mark
    return stream.readAll();
}

void fillFirmwareFolderPanel(QComboBox *files, QTextEdit *readme, const FirmwareFolder &folder,
                             const QString &root)
{
    const QDir dir(folder.path(root));
    // Name filters match without regard to case, so each file is listed once.
    const QStringList names = dir.entryList(folder.namePatterns, QDir::Files, QDir::Unsorted);
    for (const QString &name : names) {
        const QFileInfo info(dir, name);
        files->addItem(info.completeBaseName(), info.absoluteFilePath());
    }
    readme->setText(readReadme(dir));
}

void selectStoredFirmware(QComboBox *files, const QString &storedName)
{
    if (storedName.isNull())
        return;
    const int index = files->findText(storedName, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        files->setCurrentIndex(index);
}
