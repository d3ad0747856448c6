// The CANopen page as a user drives it: its COM-port list and stored settings, and whole updates
// against the simulated coupler on a pseudo-terminal linked as COM3, judged by the boxes shown,
// the requests the coupler saw, its flash and the settings stored.
#include "coupler_can/enum_serial_com.h"
#include "coupler_can/osmerin_remote_io_firmware_updater.h"
#include "platform/com_port_table.h"
#include "platform/serial_port.h"
#include "sim/canopen_pty_server.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>

#include <memory>

using Coupler = CanopenSimulatedCoupler;
Q_DECLARE_METATYPE(Coupler::Faults)

namespace {

constexpr int nodeId = 5;

void writeFirmware(const QByteArray &image)
{
    // No vector checksum is patched in, so the flash must hold the image exactly.
    SandboxFiles::write("COP Firmware/Vq-CPL.HEX", FirmwareBuilder::encryptedHex(image, "FFFF, V1, X=FALSE"));
}

Coupler::Faults faults(void (*set)(Coupler::Faults &) = nullptr)
{
    Coupler::Faults f;
    if (set)
        set(f);
    return f;
}

QByteArray flash(const Coupler &coupler, int length)
{
    return QByteArray(reinterpret_cast<const char *>(coupler.flash().data()), length);
}

struct Page {
    std::unique_ptr<OsmerinRemoteIOFirmwareUpdater> widget;
    MessageBoxRecorder boxes;

    explicit Page(int waitDivisor = 50)
        : widget(new OsmerinRemoteIOFirmwareUpdater(nullptr, TarnlowTest::environment(waitDivisor))) {}
    QComboBox *ports() const { return widget->findChild<QComboBox *>("comboBox"); }
    QPushButton *update() const { return widget->findChild<QPushButton *>("button_update"); }
    QProgressDialog *dialog() const { return widget->findChild<QProgressDialog *>(); }
    QStringList portTexts() const
    {
        QStringList texts;
        for (int i = 0; i < ports()->count(); ++i)
            texts << ports()->itemText(i);
        return texts;
    }
};

// The simulated coupler as COM3 in `comDir`, and the page, opened after it, set to its node ID.
struct Rig {
    CanopenPtyServer coupler;
    const bool started;
    Page page;

    Rig(const QTemporaryDir &comDir, bool inBootLoader, int waitDivisor = 50)
        : coupler(nodeId, inBootLoader), started(coupler.start(comDir.filePath("COM3").toStdString())),
          page(waitDivisor)
    {
        if (!started)
            qWarning("%s", coupler.error().c_str());
        page.widget->findChild<QSpinBox *>("spinBox_nodeid")->setValue(nodeId);
    }
    Coupler state()
    {
        Coupler copy;
        coupler.withCoupler([&](Coupler &c) { copy = c; });
        return copy;
    }
};

}

class TestCanopenUpdate : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> comDir;

    void addDevices(const QStringList &names)
    {
        for (const QString &name : names)
            QVERIFY(QFile(comDir->filePath(name)).open(QIODevice::WriteOnly));
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
        QTest::mousePress(page.ports(), Qt::LeftButton);
        QCOMPARE(page.portTexts(), QStringList({"COM 1", "COM 2", "COM 3"}));
        QCOMPARE(page.ports()->currentText(), QString("COM 3"));
        QVERIFY(QFile::remove(comDir->filePath("COM3")));
        QTest::mousePress(page.ports(), Qt::LeftButton);
        QCOMPARE(page.portTexts(), QStringList({"COM 1", "COM 2"}));
        QCOMPARE(page.ports()->currentText(), QString("COM 1"));
    }

    // Without a link directory the table numbers the serial devices under /dev.
    void devicesAreNumberedByKind()
    {
        QCOMPARE(ComPortTable::comNumberOfDevice("ttyUSB3"), 103);
        QCOMPARE(ComPortTable::comNumberOfDevice("ttyUSB90"), 190);
        QCOMPARE(ComPortTable::comNumberOfDevice("ttyACM0"), 200);
        for (const char *notOurs : {"ttyUSB", "ttyACM", "ttyUSB1x", "ttyUSB12345", "ttyS99999", "tty0", "sda"})
            QVERIFY2(ComPortTable::comNumberOfDevice(notOurs) == -1, notOurs);
    }

    void listingThatFailsLeavesTheListEmpty()
    {
        qputenv(ComPortTable::directoryVariable, QByteArray("/nonexistent/tarnlow-com"));
        QCOMPARE(Page().ports()->count(), 0);
    }

    void storedSettingsAreRestored_data()
    {
        QTest::addColumn<QString>("storedNodeId");
        QTest::addColumn<QString>("storedPort");
        QTest::addColumn<int>("nodeId");
        QTest::addColumn<QString>("port");
        QTest::newRow("both present") << "127" << "10" << 127 << "COM 10";
        QTest::newRow("node 64, port 3") << "64" << "3" << 64 << "COM 3";
        QTest::newRow("node 0, port not listed") << "0" << "4" << 1 << "COM 1";
        QTest::newRow("node 128, port not a number") << "128" << "x" << 1 << "COM 1";
        QTest::newRow("node not a number") << "x" << "" << 1 << "COM 1";
    }
    void storedSettingsAreRestored()
    {
        QFETCH(QString, storedNodeId);
        QFETCH(QString, storedPort);
        QFETCH(int, nodeId);
        QFETCH(QString, port);
        addDevices({"COM1", "COM3", "COM10"});
        QSettings().setValue("Settings/nodeid", storedNodeId);
        QSettings().setValue("Settings/com_port", storedPort);
        Page page;
        auto *spinBox = page.widget->findChild<QSpinBox *>("spinBox_nodeid");
        QCOMPARE(spinBox->value(), nodeId);
        QCOMPARE(spinBox->minimum(), 1);  // the CANopen node IDs
        QCOMPARE(spinBox->maximum(), 127);
        QCOMPARE(page.ports()->currentText(), port);
    }

    void updateWithoutPortsDoesNothing()
    {
        Page page;
        page.update()->click();
        QCOMPARE(page.boxes.count(), 0);
        QVERIFY(page.update()->isEnabled());
        QVERIFY(!QSettings().contains("Settings/com_port"));
        QVERIFY(!QSettings().contains("Settings/nodeid"));
    }

    // The one update with the real 500 ms and 5000 ms waits.
    void updateWritesVerifiesAndStartsTheUserFirmware()
    {
        const QByteArray image = FirmwareBuilder::pattern(513);
        writeFirmware(image);
        Rig rig(*comDir, false, 1);
        QString dialogAtBox;
        rig.page.boxes.onBox([&](QMessageBox *) {
            QProgressDialog *dialog = rig.page.dialog();
            dialogAtBox = QString("%1x%2, maximum %3: %4").arg(dialog->width()).arg(dialog->height())
                              .arg(dialog->maximum()).arg(dialog->labelText());
        });
        // The page's debug log takes the engine's lines as they are.
        QTest::ignoreMessage(QtDebugMsg, "Check is boot mode");
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Write 768 Bytes, Cost time \\d+ microsecond$"));
        QElapsedTimer clock;
        clock.start();
        rig.page.update()->click();
        QVERIFY2(clock.elapsed() >= 5500, qPrintable(QString::number(clock.elapsed())));

        QCOMPARE(rig.page.boxes.count(), 1);
        QCOMPARE(rig.page.boxes.last().icon, QMessageBox::Information);
        QCOMPARE(rig.page.boxes.last().title, QString("Burning Firmware Successful"));
        QCOMPARE(rig.page.boxes.last().text, QString("Firmware of remote IO has beed updated."));
        QCOMPARE(dialogAtBox, QString("400x100, maximum 1: Enter user mode...(wait 5 second)"));
        QVERIFY(rig.page.update()->isEnabled());
        const Coupler coupler = rig.state();
        // Requests: signature, commands 1, 2, signature, 8, three pages written and read, 4, 3, signature.
        QCOMPARE(int(coupler.requests().size()), 5 + 6 * 65 + 3);
        QVERIFY(coupler.verified());
        QVERIFY(!coupler.inBootLoader());
        // The last page holds one image byte; the rest of it is the image's 0xFF filling.
        QCOMPARE(flash(coupler, 768), image + QByteArray(255, '\xFF'));

        QSettings settings;
        QCOMPARE(settings.value("Settings/nodeid").toString(), QString::number(nodeId));
        QCOMPARE(settings.value("Settings/com_port").toString(), QString("3"));
        QCOMPARE(settings.value("Settings/filename").toString(), QString("Vq-CPL"));
    }

    void updateEndsInOneBox_data()
    {
        QTest::addColumn<bool>("inBootLoader");
        QTest::addColumn<int>("size");
        QTest::addColumn<Coupler::Faults>("faults");
        QTest::addColumn<QMessageBox::Icon>("icon");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("requests");
        const QString updated = "Firmware of remote IO has beed updated.";
        // Started in the boot loader: signature, command 8, 65 requests per page written and 65
        // per page read, commands 4 and 3, signature. Three more from the user firmware.
        QTest::newRow("boot loader runs: no boot command") << true << 256 << faults() << QMessageBox::Information
            << "Burning Firmware Successful" << updated << 2 + 130 + 3;
        QTest::newRow("image over 64 KiB") << true << 65600 << faults() << QMessageBox::Information
            << "Burning Firmware Successful" << updated << 2 + 257 * 130 + 3;
        QTest::newRow("no data in the file") << true << 0 << faults() << QMessageBox::Warning
            << "Load hex file error" << "File format error." << 0;
        // Its reply is read as the one to command 2, that one as the signature.
        QTest::newRow("command 1 answered") << false << 256
            << faults([](Coupler::Faults &f) { f.answerBootRequest = true; })
            << QMessageBox::Critical << "Tarnlow" << "Enter Boot Mode Failed" << 4;
        // The abort code is no boot signature, so the switch is made; afterwards no user signature.
        QTest::newRow("user firmware aborts signature") << false << 256
            << faults([](Coupler::Faults &f) { f.userAbortsSignature = true; })
            << QMessageBox::Critical << "Tarnlow" << "Enter User Mode Failed" << 3 + 2 + 130 + 3;
        QTest::newRow("first image byte flipped") << true << 300
            << faults([](Coupler::Faults &f) { f.flipBitAddress = 0x8000; f.flipBitMask = 0x10; })
            << QMessageBox::Critical << "Burning Firmware Failed" << "File is different" << 2 + 260;
        QTest::newRow("last image byte flipped") << true << 300
            << faults([](Coupler::Faults &f) { f.flipBitAddress = 0x8000 + 299; f.flipBitMask = 0x10; })
            << QMessageBox::Critical << "Burning Firmware Failed" << "File is different" << 2 + 260;
        QTest::newRow("filling after the image flipped") << true << 300
            << faults([](Coupler::Faults &f) { f.flipBitAddress = 0x8000 + 300; f.flipBitMask = 0x10; })
            << QMessageBox::Information << "Burning Firmware Successful" << updated << 2 + 260 + 3;
        // Abort replies from the first word on are taken as answers, their codes read as words.
        QTest::newRow("abort replies") << true << 300 << faults([](Coupler::Faults &f) { f.abortFromRequest = 3; })
            << QMessageBox::Critical << "Burning Firmware Failed" << "File is different" << 2 + 260;
        QTest::newRow("silent at word 0x1a read") << true << 256
            << faults([](Coupler::Faults &f) { f.silentFromRequest = 2 + 65 + 2 + 0x1a; })
            << QMessageBox::Critical << "Read timeout" << "Index: 5102, SubIndex: 1a" << 2 + 65 + 2 + 0x1a;
    }
    void updateEndsInOneBox()
    {
        QFETCH(bool, inBootLoader);
        QFETCH(int, size);
        QFETCH(Coupler::Faults, faults);
        QFETCH(QMessageBox::Icon, icon);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(int, requests);
        const QByteArray image = FirmwareBuilder::pattern(size);
        writeFirmware(image);
        Rig rig(*comDir, inBootLoader);
        rig.coupler.withCoupler([&](Coupler &c) { c.faults = faults; });
        QString progressAtBox;
        rig.page.boxes.onBox([&](QMessageBox *) {
            if (QProgressDialog *dialog = rig.page.dialog())
                progressAtBox = QString("%1 of %2: %3").arg(dialog->value()).arg(dialog->maximum())
                                    .arg(dialog->labelText());
        });
        rig.page.update()->click();
        QCOMPARE(rig.page.boxes.count(), 1);
        QCOMPARE(rig.page.boxes.last().icon, icon);
        QCOMPARE(rig.page.boxes.last().title, title);
        QCOMPARE(rig.page.boxes.last().text, text);
        const Coupler coupler = rig.state();
        QCOMPARE(int(coupler.requests().size()), requests);
        QVERIFY(rig.page.update()->isEnabled());
        QVERIFY(!rig.page.dialog() || !rig.page.dialog()->isVisible());
        if (text == "File is different") {
            QCOMPARE(progressAtBox, QString("768 of 1025: Reading Flash for comparing..."));
            QVERIFY(coupler.inBootLoader());
        }
        if (icon == QMessageBox::Information) {
            QCOMPARE(flash(coupler, size), image);
            QVERIFY(coupler.verified());
            QVERIFY(!coupler.inBootLoader());
        }
    }

    // Abort is noticed between pages: the page begun is finished, then nothing more is sent.
    void abortStopsAfterTheCurrentPage_data()
    {
        QTest::addColumn<int>("pressedAfter");
        QTest::addColumn<int>("requests");
        // Twenty pages, from the boot loader: signature, command 8, 65 requests per page written,
        // then 65 per page read.
        QTest::newRow("first word of page 10 written") << 2 + 9 * 65 + 1 << 2 + 10 * 65;
        QTest::newRow("first word of page 0 read") << 2 + 20 * 65 + 2 << 2 + 21 * 65;
    }
    void abortStopsAfterTheCurrentPage()
    {
        QFETCH(int, pressedAfter);
        QFETCH(int, requests);
        writeFirmware(FirmwareBuilder::pattern(20 * 256));
        Rig rig(*comDir, true);
        QWidget *page = rig.page.widget.get();
        rig.coupler.onRequest([page, pressedAfter](int number) {
            if (number != pressedAfter)
                return;
            QMetaObject::invokeMethod(page, [page] {
                for (QPushButton *button : page->findChild<QProgressDialog *>()->findChildren<QPushButton *>()) {
                    if (button->text() == "Abort")
                        button->click();
                }
            }, Qt::QueuedConnection);
        });
        page->show();
        rig.page.update()->click();
        QVERIFY2(rig.page.boxes.count() == 0,
                 qPrintable(rig.page.boxes.last().title + ": " + rig.page.boxes.last().text));
        const Coupler coupler = rig.state();
        QCOMPARE(int(coupler.requests().size()), requests);
        QVERIFY(coupler.inBootLoader());
        QVERIFY(rig.page.update()->isEnabled());
    }

    void portHeldElsewhereEndsWithOneBox()
    {
        writeFirmware(FirmwareBuilder::pattern(256));
        Rig rig(*comDir, false);
        SerialPort other;
        QVERIFY(other.open(rig.coupler.devicePath()));
        QElapsedTimer clock;
        clock.start();
        rig.page.update()->click();
        QVERIFY(clock.elapsed() < 2000);
        QCOMPARE(rig.page.boxes.count(), 1);
        QCOMPARE(rig.page.boxes.last().icon, QMessageBox::Critical);
        QCOMPARE(rig.page.boxes.last().title, QString("Open Serial COM3 failed"));
        QCOMPARE(rig.page.boxes.last().text, QString("Does there has other application lock the COM port?"));
        QCOMPARE(rig.page.boxes.last().informative,
                 comDir->path() + "/COM3: held by another program. Close the other program that uses the port.");
        QVERIFY(rig.state().requests().empty());
        QVERIFY(rig.page.update()->isEnabled());
        QCOMPARE(QSettings().value("Settings/com_port").toString(), QString("3"));
    }
};

TARNLOW_TEST_MAIN(TestCanopenUpdate)
#include "test_canopen_update.moc"
