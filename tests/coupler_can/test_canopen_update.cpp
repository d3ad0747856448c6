// Whole updates from the CANopen page against the simulated coupler on a pseudo-terminal: the
// user picks file, port and node ID and presses Update; the tests look at the boxes shown, the
// requests the coupler saw, its flash and the settings stored.
#include "coupler_can/osmerin_remote_io_firmware_updater.h"
#include "platform/com_port_table.h"
#include "platform/serial_port.h"
#include "sim/canopen_pty_server.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>

#include <memory>

namespace {

using Record = CanopenSimulatedCoupler::Record;

constexpr int comPort = 3;
constexpr int nodeId = 5;
// No vector checksum is patched in, so the flash must hold the image exactly.
const QString plainHeader = "FFFF, V1, X=FALSE";

bool isRequest(const Record &r, uint8_t command, uint16_t index, uint8_t subIndex)
{
    return r[3] == command && r[4] == (index & 0xFF) && r[5] == (index >> 8) && r[6] == subIndex;
}

int countRequests(const std::vector<Record> &requests, uint8_t command, uint16_t index)
{
    int count = 0;
    for (const Record &r : requests)
        count += r[3] == command && r[4] == (index & 0xFF) && r[5] == (index >> 8);
    return count;
}

uint32_t valueOf(const Record &r)
{
    return r[7] | r[8] << 8 | r[9] << 16 | static_cast<uint32_t>(r[10]) << 24;
}

// The simulated coupler as COM3, and the page pointed at it.
struct Rig {
    QTemporaryDir comDir;
    CanopenPtyServer coupler;
    std::unique_ptr<OsmerinRemoteIOFirmwareUpdater> page;

    explicit Rig(bool startInBootLoader = false) : coupler(nodeId, startInBootLoader)
    {
        qputenv(ComPortTable::directoryVariable, comDir.path().toLocal8Bit());
        if (!coupler.start((comDir.path() + "/COM" + QString::number(comPort)).toStdString()))
            qWarning("%s", coupler.error().c_str());
    }
    ~Rig()
    {
        page.reset();
        coupler.stop();
        qunsetenv(ComPortTable::directoryVariable);
    }
    // The page's fixed waits are divided by `waitDivisor`.
    void openPage(int waitDivisor = 50)
    {
        page.reset(new OsmerinRemoteIOFirmwareUpdater(nullptr, TarnlowTest::environment(waitDivisor)));
        page->findChild<QSpinBox *>("spinBox_nodeid")->setValue(nodeId);
    }
    void faults(const std::function<void(CanopenSimulatedCoupler::Faults &)> &set)
    {
        coupler.withCoupler([&](CanopenSimulatedCoupler &c) { set(c.faults); });
    }
    QPushButton *button() const { return page->findChild<QPushButton *>("button_update"); }
    void pressUpdate() { button()->click(); }
    std::vector<Record> requests()
    {
        std::vector<Record> copy;
        coupler.withCoupler([&](CanopenSimulatedCoupler &c) { copy = c.requests(); });
        return copy;
    }
    QByteArray flash(int length)
    {
        QByteArray copy;
        coupler.withCoupler([&](CanopenSimulatedCoupler &c) {
            copy = QByteArray(reinterpret_cast<const char *>(c.flash().data()), length);
        });
        return copy;
    }
    bool inBootLoader()
    {
        bool boot = false;
        coupler.withCoupler([&](CanopenSimulatedCoupler &c) { boot = c.inBootLoader(); });
        return boot;
    }
    int command(uint8_t subIndex)
    {
        int count = 0;
        coupler.withCoupler([&](CanopenSimulatedCoupler &c) { count = c.commandCount(subIndex); });
        return count;
    }
};

void writeFirmware(const QByteArray &image)
{
    SandboxFiles::write("COP Firmware/Vq-CPL.HEX", FirmwareBuilder::encryptedHex(image, plainHeader));
}

}

class TestCanopenUpdate : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QSettings().clear();
    }

    // The one update with the real 500 ms and 5000 ms waits.
    void updateWritesVerifiesAndStartsTheUserFirmware()
    {
        const QByteArray image = FirmwareBuilder::pattern(513);
        writeFirmware(image);
        Rig rig;
        rig.openPage(1);
        MessageBoxRecorder boxes;
        QSize dialogSize;
        boxes.onBox([&](QMessageBox *) { dialogSize = rig.page->findChild<QProgressDialog *>()->size(); });
        QElapsedTimer clock;
        clock.start();
        rig.pressUpdate();
        QVERIFY2(clock.elapsed() >= 5500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(dialogSize, QSize(400, 100));

        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().icon, QMessageBox::Information);
        QCOMPARE(boxes.last().title, QString("Burning Firmware Successful"));
        QCOMPARE(boxes.last().text, QString("Firmware of remote IO has beed updated."));
        QVERIFY(!rig.inBootLoader());
        QVERIFY(rig.button()->isEnabled());
        // Three pages: the last holds one image byte, the rest of it is the image's 0xFF filling.
        QCOMPARE(rig.flash(513), image);
        QCOMPARE(rig.flash(768).mid(513), QByteArray(255, '\xFF'));

        const auto requests = rig.requests();
        QVERIFY(isRequest(requests[0], 0x40, 0x5101, 0));
        QVERIFY(isRequest(requests[1], 0x23, 0x5100, 1));
        QCOMPARE(valueOf(requests[1]), 0x4C1D93E7u);
        QVERIFY(isRequest(requests[2], 0x23, 0x5100, 2));
        QVERIFY(isRequest(requests[3], 0x40, 0x5101, 0));
        QVERIFY(isRequest(requests[4], 0x23, 0x5100, 8));
        QCOMPARE(valueOf(requests[4]), 0x9B27E05Au);
        QCOMPARE(requests[5][0], uint8_t(nodeId));
        QCOMPARE(requests[5][1], uint8_t(0x06));
        QVERIFY(isRequest(requests[5 + 64], 0x23, 0x5100, 6));
        QCOMPARE(valueOf(requests[5 + 64]), 0x8000u);
        QCOMPARE(valueOf(requests[5 + 2 * 65 - 1]), 0x8100u);
        QCOMPARE(valueOf(requests[5 + 3 * 65 - 1]), 0x8200u);
        QCOMPARE(rig.command(6), 3);
        QCOMPARE(rig.command(7), 3);
        QCOMPARE(countRequests(requests, 0x40, 0x5102), 3 * 64);
        QCOMPARE(rig.command(4), 1);
        QCOMPARE(rig.command(3), 1);
        QVERIFY(isRequest(requests.back(), 0x40, 0x5101, 0));

        QSettings settings;
        QCOMPARE(settings.value("Settings/nodeid").toString(), QString::number(nodeId));
        QCOMPARE(settings.value("Settings/com_port").toString(), QString::number(comPort));
        QCOMPARE(settings.value("Settings/filename").toString(), QString("Vq-CPL"));
    }

    // A file with no data would enter and leave the boot loader and claim success.
    void fileWithoutDataSendsNothing()
    {
        writeFirmware(QByteArray());
        Rig rig;
        rig.openPage();
        MessageBoxRecorder boxes;
        rig.pressUpdate();
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().icon, QMessageBox::Warning);
        QCOMPARE(boxes.last().title, QString("Load hex file error"));
        QCOMPARE(boxes.last().text, QString("File format error."));
        QVERIFY(rig.requests().empty());
    }

    void couplerInItsBootLoaderGetsNoBootCommand()
    {
        writeFirmware(FirmwareBuilder::pattern(256));
        Rig rig(true);
        rig.openPage();
        MessageBoxRecorder boxes;
        rig.pressUpdate();
        QCOMPARE(boxes.last().title, QString("Burning Firmware Successful"));
        const auto requests = rig.requests();
        QVERIFY(isRequest(requests[0], 0x40, 0x5101, 0));
        QVERIFY(isRequest(requests[1], 0x23, 0x5100, 8));
        QCOMPARE(rig.command(1) + rig.command(2), 0);
    }

    void userFirmwareAbortingTheSignatureUploadIsSwitched()
    {
        writeFirmware(FirmwareBuilder::pattern(256));
        Rig rig;
        rig.faults([](CanopenSimulatedCoupler::Faults &f) { f.userAbortsSignature = true; });
        rig.openPage();
        MessageBoxRecorder boxes;
        rig.pressUpdate();
        QCOMPARE(rig.command(1), 1);
        QCOMPARE(rig.command(2), 1);
        // Back in the user firmware the signature is an abort again.
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().icon, QMessageBox::Critical);
        QCOMPARE(boxes.last().title, QString("Tarnlow"));
        QCOMPARE(boxes.last().text, QString("Enter User Mode Failed"));
    }

    void answerToTheFirstBootCommandSpoilsTheBootEntry()
    {
        writeFirmware(FirmwareBuilder::pattern(256));
        Rig rig;
        rig.faults([](CanopenSimulatedCoupler::Faults &f) { f.answerBootRequest = true; });
        rig.openPage();
        MessageBoxRecorder boxes;
        rig.pressUpdate();
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().icon, QMessageBox::Critical);
        QCOMPARE(boxes.last().title, QString("Tarnlow"));
        QCOMPARE(boxes.last().text, QString("Enter Boot Mode Failed"));
        QCOMPARE(rig.command(8), 0);
    }

    void imageOfMoreThan64KiBEndsAtItsLastPage()
    {
        const QByteArray image = FirmwareBuilder::pattern(65600);
        writeFirmware(image);
        Rig rig(true);
        rig.openPage();
        MessageBoxRecorder boxes;
        rig.pressUpdate();
        QCOMPARE(boxes.last().title, QString("Burning Firmware Successful"));
        QCOMPARE(rig.command(6), 257);
        QCOMPARE(rig.command(7), 257);
        uint32_t lastProgrammed = 0;
        for (const Record &r : rig.requests()) {
            if (isRequest(r, 0x23, 0x5100, 6))
                lastProgrammed = valueOf(r);
        }
        QCOMPARE(lastProgrammed, 0x18000u);
        QCOMPARE(rig.flash(65600), image);
    }

    void abortDuringTheTenthPageStopsAfterIt()
    {
        writeFirmware(FirmwareBuilder::pattern(20 * 256));
        Rig rig(true);
        // Requests: signature, command 8, then 65 per page; 588 is the first word of page ten.
        constexpr int firstWordOfPageTen = 2 + 9 * 65 + 1;
        rig.coupler.onRequest([](int number) {
            if (number != firstWordOfPageTen)
                return;
            QMetaObject::invokeMethod(qApp, [] {
                for (QWidget *widget : QApplication::topLevelWidgets()) {
                    auto *dialog = widget->findChild<QProgressDialog *>();
                    if (!dialog)
                        continue;
                    for (auto *button : dialog->findChildren<QPushButton *>()) {
                        if (button->text() == "Abort")
                            button->click();
                    }
                }
            }, Qt::QueuedConnection);
        });
        rig.openPage();
        rig.page->show();
        MessageBoxRecorder boxes;
        rig.pressUpdate();
        QVERIFY2(boxes.count() == 0, qPrintable(boxes.last().title + ": " + boxes.last().text));
        QCOMPARE(rig.command(6), 10);
        QCOMPARE(rig.command(7), 0);
        QCOMPARE(countRequests(rig.requests(), 0x40, 0x5102), 0);
        QCOMPARE(rig.command(4), 0);
        QVERIFY(rig.inBootLoader());
        QVERIFY(rig.button()->isEnabled());
    }

    void flashThatLosesABitIsReported()
    {
        writeFirmware(FirmwareBuilder::pattern(512));
        Rig rig;
        rig.faults([](CanopenSimulatedCoupler::Faults &f) {
            f.flipBitAddress = 0x8000 + 300;
            f.flipBitMask = 0x10;
        });
        rig.openPage();
        MessageBoxRecorder boxes;
        int maximum = 0;
        int value = 0;
        boxes.onBox([&](QMessageBox *) {
            auto *dialog = rig.page->findChild<QProgressDialog *>();
            maximum = dialog->maximum();
            value = dialog->value();
        });
        rig.pressUpdate();
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().icon, QMessageBox::Critical);
        QCOMPARE(boxes.last().title, QString("Burning Firmware Failed"));
        QCOMPARE(boxes.last().text, QString("File is different"));
        QCOMPARE(maximum, 1025);
        QCOMPARE(value, 768);
        QCOMPARE(rig.command(6), 2);
        QCOMPARE(rig.command(7), 2);
        QCOMPARE(rig.command(4), 0);
        QVERIFY(rig.inBootLoader());
        QVERIFY(!rig.page->findChild<QProgressDialog *>()->isVisible());
    }

    void abortRepliesWhileReadingAreTakenAsWords()
    {
        writeFirmware(FirmwareBuilder::pattern(256));
        Rig rig(true);
        // From the first word upload on, every request gets an SDO abort reply.
        rig.faults([](CanopenSimulatedCoupler::Faults &f) { f.abortFromRequest = 69; });
        rig.openPage();
        MessageBoxRecorder boxes;
        rig.pressUpdate();
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().title, QString("Burning Firmware Failed"));
        QCOMPARE(boxes.last().text, QString("File is different"));
        QCOMPARE(countRequests(rig.requests(), 0x40, 0x5102), 64);
    }

    void repliesInPiecesAndDelayedStillUpdate()
    {
        writeFirmware(FirmwareBuilder::pattern(256));
        Rig rig(true);
        CanopenPtyServer::Timing timing;
        timing.splitReplies = true;
        timing.pieceGapMs = 1;
        timing.replyDelayUs = 200;
        rig.coupler.setTiming(timing);
        rig.openPage();
        MessageBoxRecorder boxes;
        rig.pressUpdate();
        QCOMPARE(boxes.last().title, QString("Burning Firmware Successful"));
    }

    void couplerSilentWhileReadingTimesOut()
    {
        writeFirmware(FirmwareBuilder::pattern(256));
        Rig rig(true);
        // Signature, command 8, 64 words, command 6, command 7, then the uploads of the words.
        rig.faults([](CanopenSimulatedCoupler::Faults &f) { f.silentFromRequest = 68 + 1 + 0x1A; });
        rig.openPage();
        MessageBoxRecorder boxes;
        rig.pressUpdate();
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().icon, QMessageBox::Critical);
        QCOMPARE(boxes.last().title, QString("Read timeout"));
        QCOMPARE(boxes.last().text, QString("Index: 5102, SubIndex: 1a"));
        QVERIFY(rig.button()->isEnabled());
    }

    void missingGuardFrameEndsTheUpdate()
    {
        writeFirmware(FirmwareBuilder::pattern(256));
        Rig rig(true);
        rig.faults([](CanopenSimulatedCoupler::Faults &f) { f.noGuardFrame = true; });
        rig.openPage();
        MessageBoxRecorder boxes;
        rig.pressUpdate();
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().title, QString("Read timeout"));
        QCOMPARE(boxes.last().text, QString("Receive Guard"));
        QCOMPARE(rig.command(3), 1);
    }

    void portHeldElsewhereEndsWithOneBox()
    {
        writeFirmware(FirmwareBuilder::pattern(256));
        Rig rig;
        SerialPort other;
        QVERIFY(other.open(rig.coupler.devicePath()));
        rig.openPage();
        MessageBoxRecorder boxes;
        QElapsedTimer clock;
        clock.start();
        rig.pressUpdate();
        QVERIFY(clock.elapsed() < 2000);
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().icon, QMessageBox::Critical);
        QCOMPARE(boxes.last().title, QString("Open Serial COM3 failed"));
        QCOMPARE(boxes.last().text, QString("Does there has other application lock the COM port?"));
        QCOMPARE(boxes.last().informative,
                 rig.comDir.path() + "/COM3: held by another program. Close the other program that uses the port.");
        QVERIFY(rig.requests().empty());
        QVERIFY(rig.button()->isEnabled());
        QCOMPARE(QSettings().value("Settings/com_port").toString(), QString("3"));
    }
};

TARNLOW_TEST_MAIN(TestCanopenUpdate)
#include "test_canopen_update.moc"
