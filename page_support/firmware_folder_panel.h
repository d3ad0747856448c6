#pragma once

#include <QString>
#include <QStringList>

class QComboBox;
class QTextEdit;

// One page's firmware folder beside the executable, the names it lists and the settings key
// under which the page stores the display text of the file used last.
struct FirmwareFolder {
    QString folderName;
    QStringList namePatterns;
    QString settingsKey;

    static FirmwareFolder coupler();
    static FirmwareFolder module();
    static FirmwareFolder canopen();
    static FirmwareFolder ethercat();

    // Absolute path of the folder: a sub-directory of `root`, or of the application directory
    // when `root` is empty.
    QString path(const QString &root) const;
};

// Lists the folder's firmware files into the combo box (display text = name without its last
// suffix, item data = absolute path) and shows the folder's README.txt in the text area.
// A missing folder or README leaves the widgets empty; nothing is reported.
void fillFirmwareFolderPanel(QComboBox *files, QTextEdit *readme, const FirmwareFolder &folder,
                             const QString &root);

// Selects the entry whose display text equals the stored name exactly; leaves the current
// entry when there is none or nothing is stored.
void selectStoredFirmware(QComboBox *files, const QString &storedName);
