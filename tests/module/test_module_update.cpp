// The module page end to end: fields set and Update clicked as a user would, against simulated
// modules behind a simulated Ethernet coupler on loopback, with the boxes answered and the flash, the
// command lines and the register reads of every module inspected afterwards.
#include "module/module_firmware_widget.h"
#include "sim/module_bank.h"
#include "sim/simulated_coupler.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/free_port.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>

#include <memory>
#include <random>

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

Q_DECLARE_METATYPE(std::vector<int>)

namespace {

constexpr uint16_t kProductCode = 0x0A31;

// The image as the page writes it: the data of the file, with the vector-table checksum word at
// bytes 28..31 that makes the first eight little-endian words sum to zero.
Bytes firmwareImage(size_t size, unsigned salt)
{
    std::mt19937 generator(salt);
    Bytes image(size);
    for (uint8_t &byte : image)
        byte = static_cast<uint8_t>(generator());
    if (size >= 32) {
        uint32_t sum = 0;
        for (int word = 0; word < 7; ++word)
            sum += uint32_t(image[4 * word]) | uint32_t(image[4 * word + 1]) << 8
                   | uint32_t(image[4 * word + 2]) << 16 | uint32_t(image[4 * word + 3]) << 24;
        const uint32_t checksum = 0u - sum;
        for (int i = 0; i < 4; ++i)
            image[28 + i] = static_cast<uint8_t>(checksum >> (8 * i));
    }
    return image;
}

QByteArray asFileData(const Bytes &image)
{
    return QByteArray(reinterpret_cast<const char *>(image.data()), static_cast<int>(image.size()));
}

Lines linesStartingWith(const Lines &all, char letter)
{
    Lines picked;
    for (const std::string &line : all)
        if (!line.empty() && line[0] == letter)
            picked.push_back(line);
    return picked;
}

bool flashHolds(const ModuleBank &bank, int module, const Bytes &image)
{
    const Bytes flash = bank.flash(module);
    return std::equal(image.begin(), image.end(), flash.begin());
}

SimulatedCouplerSetup couplerWithModules(const char *address, ModuleBank &bank)
{
    SimulatedCouplerSetup setup;
    setup.address = address;
    setup.modules = &bank;
    setup.modbusPort = FreePort::tcp(address);
    return setup;
}

// The page with its coupler: modules behind a simulated coupler on the given loopback address.
struct Bench {
    // The page's fixed waits are divided by `waitDivisor`.
    explicit Bench(const char *address, int moduleCount = 16, int waitDivisor = 100)
        : ip(address), bank(moduleCount), coupler(couplerWithModules(address, bank)),
          page(nullptr, TarnlowTest::environment(waitDivisor, coupler.setup().modbusPort))
    {
        for (int module = 1; module <= moduleCount; ++module)
            bank.setModule(module, {kProductCode, 0x1000, false});
    }

    bool start()
    {
        std::string failure;
        return coupler.start(failure);
    }

    void choose(const QString &firmware, int first, int last)
    {
        const QStringList parts = QString::fromStdString(ip).split('.');
        const char *names[] = {"lineEdit_ip1", "lineEdit_ip2", "lineEdit_ip3", "lineEdit_ip4"};
        for (int i = 0; i < 4; ++i)
            page.findChild<QLineEdit *>(names[i])->setText(parts[i]);
        QComboBox *files = page.findChild<QComboBox *>("comboBox_firmware_file");
        files->setCurrentIndex(files->findText(firmware));
        page.findChild<QCheckBox *>("checkBox_end")->setChecked(first != last);
        page.findChild<QSpinBox *>("spinbox_module_number_start")->setValue(first);
        page.findChild<QSpinBox *>("spinbox_module_number_end")->setValue(last);
    }

    void clickUpdate()
    {
        QTest::mouseClick(page.findChild<QPushButton *>("button_update"), Qt::LeftButton);
    }

    std::string ip;
    ModuleBank bank;
    SimulatedCoupler coupler;
    ModuleFirmwareWidget page;
};

const Bytes &image5000()
{
    static const Bytes image = firmwareImage(5000, 5000);
    return image;
}
const Bytes &image4096()
{
    static const Bytes image = firmwareImage(4096, 4096);
    return image;
}
const Bytes &image8192()
{
    static const Bytes image = firmwareImage(8192, 8192);
    return image;
}

}

class TestModuleUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        SandboxFiles::write("Module Firmware/IO_5000.HEX",
                            FirmwareBuilder::encryptedHex(asFileData(image5000()), "0A31, V1, X=TRUE"));
        SandboxFiles::write("Module Firmware/IO_4096.HEX",
                            FirmwareBuilder::encryptedHex(asFileData(image4096()), "0A31, V1, X=TRUE"));
        SandboxFiles::write("Module Firmware/IO_8192.HEX",
                            FirmwareBuilder::encryptedHex(asFileData(image8192()), "0A31, V1, X=TRUE"));
        SandboxFiles::write("Module Firmware/IO_V2.HEX",
                            FirmwareBuilder::encryptedHex(asFileData(image4096()), "0A31, V2, X=TRUE"));
    }
    void init()
    {
        QSettings().clear();
    }

    void oneModuleWithTheRealPauses()
    {
        Bench bench("127.0.0.46", 16, 1);
        QVERIFY(bench.start());
        bench.choose("IO_5000", 3, 3);
        MessageBoxRecorder recorder;
        QSize dialogSize;
        recorder.onBox([&](QMessageBox *) { dialogSize = bench.page.findChild<QProgressDialog *>()->size(); });
        QElapsedTimer timer;
        timer.start();
        bench.clickUpdate();
        // Select pause 100 ms + 1 s, start pause 500 ms.
        QVERIFY(timer.elapsed() >= 1600);
        QCOMPARE(dialogSize, QSize(400, 100));
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().icon, QMessageBox::Information);
        QCOMPARE(recorder.last().title, QString("Tarnlow"));
        QCOMPARE(recorder.last().text,
                 QString("Burning firmware successful. Firmware of module 3 has been updated."));
        QVERIFY(flashHolds(bench.bank, 3, image5000()));
        QCOMPARE(bench.bank.startCount(3), 1);
        const Lines commands = bench.bank.commands(3);
        QCOMPARE(linesStartingWith(commands, 'C'),
                 (Lines{"C 1024 33555200 1024", "C 2048 33555200 1024", "C 3072 33555200 1024",
                        "C 4096 33555200 1024", "C 0 33555200 1024"}));
        const Lines reads = linesStartingWith(commands, 'R');
        QCOMPARE(reads.size(), size_t(27));
        QCOMPARE(reads.back(), std::string("R 4992 8"));
        QCOMPARE(bench.bank.registerReads(), (std::vector<int>{30200, 30201}));
        QSettings settings;
        QCOMPARE(settings.value("Module/Settings/ip").toString(), QString("127.0.0.46"));
        QCOMPARE(settings.value("Module/Settings/module_number_start").toString(), QString("3"));
        QCOMPARE(settings.value("Module/Settings/module_number_end").toString(), QString("3"));
        QCOMPARE(settings.value("Module/Settings/filename").toString(), QString("IO_5000"));
        QCOMPARE(settings.value("Module/Settings/end_enable").toString(), QString("false"));
        QVERIFY(bench.page.findChild<QPushButton *>("button_update")->isEnabled());
    }

    void rangeWritesBlockZeroLastOnEveryModule()
    {
        Bench bench("127.0.0.47");
        bench.bank.setModule(2, {kProductCode, 0x1FFF, true});
        bench.bank.setReplySplit(9);   // every reply in two TCP segments
        QVERIFY(bench.start());
        bench.choose("IO_4096", 1, 2);
        MessageBoxRecorder recorder;
        bench.clickUpdate();
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().text,
                 QString("Burning firmware successful. Firmware of module 1-2 has been updated."));
        for (int module : {1, 2}) {
            QVERIFY(flashHolds(bench.bank, module, image4096()));
            QCOMPARE(bench.bank.startCount(module), 1);
            QCOMPARE(linesStartingWith(bench.bank.commands(module), 'C'),
                     (Lines{"C 1024 33555200 1024", "C 2048 33555200 1024", "C 3072 33555200 1024",
                            "C 0 33555200 1024"}));
        }
        QCOMPARE(linesStartingWith(bench.bank.commands(1), 'E'), (Lines{"E 0 15"}));
        QCOMPARE(linesStartingWith(bench.bank.commands(2), 'E'), (Lines{"E 0 63"}));
        QCOMPARE(bench.bank.registerReads(), (std::vector<int>{30000, 30100, 30001, 30101}));
        QCOMPARE(QSettings().value("Module/Settings/end_enable").toString(), QString("true"));
        QCOMPARE(QSettings().value("Module/Settings/module_number_end").toString(), QString("2"));
    }

    void failedComparisonStopsTheRangeAtThatModule()
    {
        Bench bench("127.0.0.48");
        ModuleFaults flip;
        flip.flipFlashBitAt = 2100;
        bench.bank.setFaults(5, flip);
        QVERIFY(bench.start());
        bench.choose("IO_4096", 4, 6);
        MessageBoxRecorder recorder;
        bench.clickUpdate();
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().icon, QMessageBox::Critical);
        QCOMPARE(recorder.last().text,
                 QString("Burning Firmware to module 5 Failed. Comparison is NOT equal. Content is "
                         "different between local file and flash."));
        QCOMPARE(bench.bank.startCount(4), 1);
        QVERIFY(flashHolds(bench.bank, 4, image4096()));
        QCOMPARE(bench.bank.startCount(5), 0);
        QVERIFY(bench.bank.commands(6).empty());
        QVERIFY(bench.page.findChild<QPushButton *>("button_update")->isEnabled());
    }

    void lostDataPacketIsFoundByTheComparison()
    {
        Bench bench("127.0.0.49");
        ModuleFaults lose;
        lose.loseDataPacket = 11;
        bench.bank.setFaults(1, lose);
        QVERIFY(bench.start());
        bench.choose("IO_4096", 1, 1);
        MessageBoxRecorder recorder;
        bench.clickUpdate();
        QCOMPARE(recorder.count(), 1);
        QVERIFY(recorder.last().text.startsWith("Burning Firmware to module 1 Failed."));
        QCOMPARE(bench.bank.startCount(1), 0);
    }

    void mismatchingModulesAreListedAndNothingIsWritten_data()
    {
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<std::vector<int>>("reads");
        QTest::addColumn<QString>("text");
        QTest::newRow("product code")
            << "IO_4096" << std::vector<int>{30100, 30200, 30300, 30400}
            << "Firmware does not match with the module 3, 5";
        QTest::newRow("hardware version")
            << "IO_V2" << std::vector<int>{30100, 30200, 30300, 30400, 30101, 30201, 30301, 30401}
            << "Firmware does not match with with the model 2, 4";
    }
    void mismatchingModulesAreListedAndNothingIsWritten()
    {
        QFETCH(QString, firmware);
        QFETCH(std::vector<int>, reads);
        QFETCH(QString, text);
        Bench bench("127.0.0.50");
        const bool productCase = firmware == "IO_4096";
        bench.bank.setModule(3, {productCase ? uint16_t(0x0A32) : kProductCode, 0x2000, false});
        bench.bank.setModule(5, {productCase ? uint16_t(0x0702) : kProductCode, 0x2000, false});
        bench.bank.setModule(2, {kProductCode, 0x1000, false});
        bench.bank.setModule(4, {kProductCode, 0x0000, false});
        QVERIFY(bench.start());
        bench.choose(firmware, 2, 5);
        MessageBoxRecorder recorder;
        bench.clickUpdate();
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().icon, QMessageBox::Critical);
        QCOMPARE(recorder.last().title, QString("Firmware matching error"));
        QCOMPARE(recorder.last().text, text);
        QCOMPARE(bench.bank.registerReads(), reads);
        QVERIFY(bench.bank.requests().empty());
        QVERIFY(!QSettings().contains("Module/Settings/ip"));
    }

    void advanceModeReadsNoRegister()
    {
        Bench bench("127.0.0.51", 2);
        bench.bank.setModule(2, {0x0702, 0x2000, false});
        QVERIFY(bench.start());
        bench.choose("IO_4096", 2, 2);
        MessageBoxRecorder recorder;
        bench.page.findChild<QCheckBox *>("ADMode")->setChecked(true);
        QCOMPARE(recorder.count(), 1);
        bench.clickUpdate();
        QCOMPARE(recorder.count(), 2);
        QCOMPARE(recorder.last().text,
                 QString("Burning firmware successful. Firmware of module 2 has been updated."));
        QVERIFY(bench.bank.registerReads().empty());
        QVERIFY(flashHolds(bench.bank, 2, image4096()));
    }

    void moduleThatDoesNotSynchronizeEndsTheRange()
    {
        Bench bench("127.0.0.52");
        ModuleFaults lowerCase;
        lowerCase.answersLowerCase = true;
        bench.bank.setFaults(2, lowerCase);
        const Bytes old(4096, 0x5A);
        bench.bank.setFlash(2, old);
        QVERIFY(bench.start());
        bench.choose("IO_4096", 1, 3);
        MessageBoxRecorder recorder;
        bench.clickUpdate();
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().icon, QMessageBox::Critical);
        QCOMPARE(recorder.last().text, QString("Connection failed. Synchronizing baudrate of module failed."));
        QCOMPARE(bench.bank.startCount(1), 1);
        QVERIFY(flashHolds(bench.bank, 2, old));
        QVERIFY(bench.bank.commands(3).empty());
    }

    void lateRepliesWithinTheTimeOutStillUpdate()
    {
        Bench bench("127.0.0.53", 1);
        ModuleFaults late;
        late.replyDelayMs = 5;
        bench.bank.setFaults(1, late);
        QVERIFY(bench.start());
        bench.choose("IO_4096", 1, 1);
        MessageBoxRecorder recorder;
        bench.clickUpdate();
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().text,
                 QString("Burning firmware successful. Firmware of module 1 has been updated."));
    }

    void abortDuringTheThirdBlock()
    {
        Bench bench("127.0.0.54", 1);
        QVERIFY(bench.start());
        bench.choose("IO_8192", 1, 1);
        // Press Abort once the third block (block 3) has staged three chunks.
        QTimer abortPresser;
        abortPresser.setInterval(0);
        connect(&abortPresser, &QTimer::timeout, [&] {
            QProgressDialog *dialog = bench.page.findChild<QProgressDialog *>();
            if (dialog && dialog->isVisible() && dialog->value() >= 2048 + 256) {
                const QList<QPushButton *> buttons = dialog->findChildren<QPushButton *>();
                QVERIFY(!buttons.isEmpty());
                QCOMPARE(buttons.first()->text(), QString("Abort"));
                buttons.first()->click();
                abortPresser.stop();
            }
        });
        abortPresser.start();
        MessageBoxRecorder recorder;
        bench.clickUpdate();
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().icon, QMessageBox::Information);
        QCOMPARE(recorder.last().text, QString("User cancel the operation."));
        const Lines commands = bench.bank.commands(1);
        QCOMPARE(linesStartingWith(commands, 'C'),
                 (Lines{"C 1024 33555200 1024", "C 2048 33555200 1024", "C 3072 33555200 384",
                        "C 0 33555200 0"}));
        QVERIFY(linesStartingWith(commands, 'R').empty());
        QCOMPARE(bench.bank.startCount(1), 0);
        QVERIFY(bench.page.findChild<QPushButton *>("button_update")->isEnabled());
    }

    // A coupler whose Modbus server takes the connection but never answers: the reads count as
    // 0 and the box says which registers could not be read.
    void silentCouplerNamesTheUnreadRegisters()
    {
        ModuleBank bank(2);
        SimulatedCouplerSetup setup = couplerWithModules("127.0.0.39", bank);
        setup.modbus = SimulatedCouplerSetup::Modbus::Silent;
        SimulatedCoupler coupler(setup);
        std::string failure;
        QVERIFY(coupler.start(failure));
        ModuleFirmwareWidget page(nullptr, TarnlowTest::environment(100, setup.modbusPort));
        const char *names[] = {"lineEdit_ip1", "lineEdit_ip2", "lineEdit_ip3", "lineEdit_ip4"};
        const char *parts[] = {"127", "0", "0", "39"};
        for (int i = 0; i < 4; ++i)
            page.findChild<QLineEdit *>(names[i])->setText(parts[i]);
        QComboBox *files = page.findChild<QComboBox *>("comboBox_firmware_file");
        files->setCurrentIndex(files->findText("IO_4096"));
        MessageBoxRecorder recorder;
        QTest::mouseClick(page.findChild<QPushButton *>("button_update"), Qt::LeftButton);
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().text, QString("Firmware does not match with the module 1"));
        QCOMPARE(recorder.last().informative,
                 QString("Register 30000 of module 1 could not be read: Connection timed out."));
        QVERIFY(bank.requests().empty());
    }
};

TARNLOW_TEST_MAIN(TestModuleUpdate)
#include "test_module_update.moc"
