#include "page_support/firmware_folder_panel.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QComboBox>
#include <QDir>
#include <QTextEdit>

class TestFirmwareFolderPanel : public QObject
{
    Q_OBJECT

private slots:
    void listsMatchingFilesOnceWhateverTheCase()
    {
        SandboxFiles::write("Coupler Firmware/A.HEX", "a");
        SandboxFiles::write("Coupler Firmware/b.hex", "b");
        SandboxFiles::write("Coupler Firmware/c.v2.Hex", "c");
        SandboxFiles::write("Coupler Firmware/README.txt", "plain readme");
        SandboxFiles::write("Coupler Firmware/notes.bin", "x");
        QDir(SandboxFiles::applicationDirectory()).mkpath("Coupler Firmware/folder.HEX");

        QComboBox files;
        QTextEdit readme;
        fillFirmwareFolderPanel(&files, &readme, FirmwareFolder::coupler(), SandboxFiles::applicationDirectory());
        QStringList names;
        for (int i = 0; i < files.count(); ++i)
            names << files.itemText(i);
        names.sort();
        QCOMPARE(names, QStringList({"A", "b", "c.v2"}));
        const int index = files.findText("c.v2");
        QCOMPARE(files.itemData(index).toString(),
                 SandboxFiles::applicationDirectory() + "/Coupler Firmware/c.v2.Hex");
        QCOMPARE(files.currentIndex(), 0);
        QCOMPARE(readme.toPlainText(), QString("plain readme"));
    }

    void richReadmeIsFormatted()
    {
        SandboxFiles::write("ECAT Firmware/README.txt", "<table><tr><td>cell</td></tr></table>");
        QComboBox files;
        QTextEdit readme;
        fillFirmwareFolderPanel(&files, &readme, FirmwareFolder::ethercat(), SandboxFiles::applicationDirectory());
        QCOMPARE(files.count(), 0);
        QCOMPARE(readme.toPlainText().trimmed(), QString("cell"));
        QVERIFY(readme.toHtml().contains("<table"));
    }

    void missingFolderLeavesPanelEmpty()
    {
        QComboBox files;
        QTextEdit readme;
        fillFirmwareFolderPanel(&files, &readme, FirmwareFolder::canopen(), SandboxFiles::applicationDirectory());
        QCOMPARE(files.count(), 0);
        QVERIFY(readme.toPlainText().isEmpty());
    }

    void storedNameIsSelectedExactly()
    {
        QComboBox files;
        files.addItem("first", "/f");
        files.addItem("Second", "/s");
        files.addItem("Second", "/s2");
        selectStoredFirmware(&files, "second");
        QCOMPARE(files.currentIndex(), 0);
        selectStoredFirmware(&files, "Second");
        QCOMPARE(files.currentIndex(), 1);
        selectStoredFirmware(&files, QString());
        QCOMPARE(files.currentIndex(), 1);
    }
};

TARNLOW_TEST_MAIN(TestFirmwareFolderPanel)
#include "test_firmware_folder_panel.moc"
