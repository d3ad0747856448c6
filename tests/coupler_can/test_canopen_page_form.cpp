// The CANopen page without a coupler: its form, the COM-port list and its refresh, the settings
// restore with its fall-backs, and Update with no port to use.
#include "coupler_can/enum_serial_com.h"
#include "coupler_can/osmerin_remote_io_firmware_updater.h"
#include "platform/com_port_table.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/test_main.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTextEdit>

#include <memory>

namespace {

struct Page {
    std::unique_ptr<OsmerinRemoteIOFirmwareUpdater> widget{new OsmerinRemoteIOFirmwareUpdater(nullptr, TarnlowTest::environment())};
    QComboBox *ports() const { return widget->findChild<QComboBox *>("comboBox"); }
    QSpinBox *nodeId() const { return widget->findChild<QSpinBox *>("spinBox_nodeid"); }
    QPushButton *update() const { return widget->findChild<QPushButton *>("button_update"); }
    QStringList portTexts() const
    {
        QStringList texts;
        for (int i = 0; i < ports()->count(); ++i)
            texts << ports()->itemText(i);
        return texts;
    }
    void pressPortList() const { QTest::mousePress(ports(), Qt::LeftButton); }
};

}

class TestCanopenPageForm : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> comDir;

    void addDevices(const QStringList &names)
    {
        for (const QString &name : names) {
            QFile device(comDir->filePath(name));
            QVERIFY(device.open(QIODevice::WriteOnly));
        }
    }

private slots:
    void init()
    {
        QSettings().clear();
        comDir.reset(new QTemporaryDir);
        qputenv(ComPortTable::directoryVariable, comDir->path().toLocal8Bit());
    }
    void cleanup() { qunsetenv(ComPortTable::directoryVariable); }

    void portsAreListedByNumberAndOtherNamesSkipped()
    {
        addDevices({"COM3", "COM10", "COM1", "COM", "COM3x", "LPT1", "com7", "COMX2"});
        Page page;
        QCOMPARE(page.portTexts(), QStringList({"COM 1", "COM 3", "COM 7", "COM 10"}));
        QCOMPARE(page.ports()->currentText(), QString("COM 1"));
        const auto record = page.ports()->itemData(3).value<OsmerinCOMLib::EnumSerialCOM::DATA>();
        QCOMPARE(record.port, 10);
        QVERIFY(record.name.isEmpty());
    }

    void pressRefreshesAndKeepsTheChosenPortWhileItExists()
    {
        addDevices({"COM1", "COM3"});
        Page page;
        page.ports()->setCurrentIndex(1);
        addDevices({"COM2"});
        page.pressPortList();
        QCOMPARE(page.portTexts(), QStringList({"COM 1", "COM 2", "COM 3"}));
        QCOMPARE(page.ports()->currentText(), QString("COM 3"));
        QVERIFY(QFile::remove(comDir->filePath("COM3")));
        page.pressPortList();
        QCOMPARE(page.portTexts(), QStringList({"COM 1", "COM 2"}));
        QCOMPARE(page.ports()->currentText(), QString("COM 1"));
    }

    // Without a link directory the table numbers the serial devices under /dev.
    void devicesAreNumberedByKind()
    {
        QCOMPARE(ComPortTable::comNumberOfDevice("ttyUSB3"), 103);
        QCOMPARE(ComPortTable::comNumberOfDevice("ttyACM0"), 200);
        for (const char *notOurs : {"ttyUSB", "ttyACM", "ttyUSB1x", "ttyUSB12345", "ttyS99999", "tty0", "sda"})
            QVERIFY2(ComPortTable::comNumberOfDevice(notOurs) == -1, notOurs);
    }

    void listingThatFailsLeavesTheListEmpty()
    {
        qputenv(ComPortTable::directoryVariable, QByteArray("/nonexistent/tarnlow-com"));
        Page page;
        QCOMPARE(page.ports()->count(), 0);
    }

    void storedNodeIdOutsideTheRangeGivesOne_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("shown");
        QTest::newRow("0") << "0" << 1;
        QTest::newRow("128") << "128" << 1;
        QTest::newRow("not a number") << "x" << 1;
        QTest::newRow("127") << "127" << 127;
        QTest::newRow("64") << "64" << 64;
    }
    void storedNodeIdOutsideTheRangeGivesOne()
    {
        QFETCH(QString, stored);
        QFETCH(int, shown);
        QSettings().setValue("Settings/nodeid", stored);
        Page page;
        QCOMPARE(page.nodeId()->value(), shown);
        QCOMPARE(page.nodeId()->minimum(), 1);      // the CANopen node IDs
        QCOMPARE(page.nodeId()->maximum(), 127);
    }

    void storedPortIsSelectedWhenPresent()
    {
        addDevices({"COM1", "COM3", "COM10"});
        QSettings().setValue("Settings/com_port", "10");
        QCOMPARE(Page().ports()->currentText(), QString("COM 10"));
        QSettings().setValue("Settings/com_port", "4");
        QCOMPARE(Page().ports()->currentText(), QString("COM 1"));
        QSettings().setValue("Settings/com_port", "x");
        QCOMPARE(Page().ports()->currentText(), QString("COM 1"));
    }

    void updateWithoutPortsDoesNothing()
    {
        MessageBoxRecorder boxes;
        Page page;
        page.update()->click();
        QCOMPARE(boxes.count(), 0);
        QVERIFY(page.update()->isEnabled());
        QVERIFY(!QSettings().contains("Settings/com_port"));
        QVERIFY(!QSettings().contains("Settings/nodeid"));
    }
};

TARNLOW_TEST_MAIN(TestCanopenPageForm)
#include "test_canopen_page_form.moc"
