// The module page as a user drives it: its form and stored settings, and updates against simulated
// modules behind a simulated Ethernet coupler on loopback, with the boxes answered and the flash,
// the command lines, the requests and the register reads of every module inspected afterwards.
#include "history/update_history.h"
#include "module/module_firmware_widget.h"
#include "sim/module_bank.h"
#include "sim/simulated_coupler.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/free_port.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>

#include <random>

using Lines = std::vector<std::string>;
using Settings = QList<QPair<QString, QString>>;

Q_DECLARE_METATYPE(std::vector<int>)

namespace {

constexpr uint16_t kProductCode = 0x0A31;
const QString kUpdated = "Burning firmware successful. Firmware of module %1 has been updated.";
const QString kAdvanceWarning = "Advance mode contains actions that may harm your device(s). Contact our "
                                "distributors for more details and instructions.";

// The image as the page writes it: random data, with the vector-table checksum word at bytes
// 28..31 that makes the first eight little-endian words sum to zero.
QByteArray firmwareImage(int size)
{
    std::mt19937 generator(static_cast<unsigned>(size));
    QByteArray image(size, 0);
    uint32_t sum = 0;
    for (int i = 0; i < size; ++i) {
        image[i] = static_cast<char>(generator());
        if (i < 28)
            sum += uint32_t(uint8_t(image[i])) << (8 * (i % 4));
    }
    for (int i = 0; i < 4; ++i)
        image[28 + i] = static_cast<char>((0u - sum) >> (8 * i));
    return image;
}

bool flashHolds(const ModuleBank &bank, int module, const QByteArray &image)
{
    return QByteArray(reinterpret_cast<const char *>(bank.flash(module).data()), image.size()) == image;
}

Lines linesStartingWith(const Lines &all, char letter)
{
    Lines picked;
    std::copy_if(all.begin(), all.end(), std::back_inserter(picked),
                 [letter](const std::string &line) { return !line.empty() && line[0] == letter; });
    return picked;
}

template <typename T>
T *child(QWidget &page, const char *name)
{
    return page.findChild<T *>(name);
}

QLineEdit *ipField(QWidget &page, int i)
{
    return child<QLineEdit>(page, qPrintable(QString("lineEdit_ip%1").arg(i + 1)));
}

QString ipShown(QWidget &page)
{
    QStringList parts;
    for (int i = 0; i < 4; ++i)
        parts << ipField(page, i)->text();
    return parts.join('.');
}

void clickUpdate(QWidget &page)
{
    QTest::mouseClick(child<QPushButton>(page, "button_update"), Qt::LeftButton);
}

void compareSettings(const Settings &expected)
{
    for (const auto &entry : expected)
        QCOMPARE(QSettings().value(entry.first).toString(), entry.second);
}

// The page with its coupler: all sixteen modules fitting the firmware, behind a simulated coupler
// on the given loopback address; the page's fixed waits divided by `waitDivisor`.
struct Bench {
    explicit Bench(const char *address, int waitDivisor = 100,
                   SimulatedCouplerSetup::Modbus modbus = SimulatedCouplerSetup::Modbus::Answering)
        : ip(address), coupler(couplerSetup(modbus)),
          page(nullptr, TarnlowTest::environment(waitDivisor, coupler.setup().modbusPort))
    {
        for (int module = 1; module <= ModuleBank::kMaxModules; ++module)
            bank.setModule(module, {kProductCode, 0x1000, false});
    }

    SimulatedCouplerSetup couplerSetup(SimulatedCouplerSetup::Modbus modbus)
    {
        SimulatedCouplerSetup setup;
        setup.address = ip;
        setup.modules = &bank;
        setup.modbusPort = FreePort::tcp(ip.c_str());
        setup.modbus = modbus;
        return setup;
    }

    // Starts the coupler, fills the form as a user would and clicks Update.
    bool update(const QString &firmware, int first, int last)
    {
        std::string failure;
        if (!coupler.start(failure))
            return false;
        const QStringList parts = QString::fromStdString(ip).split('.');
        for (int i = 0; i < 4; ++i)
            ipField(page, i)->setText(parts[i]);
        QComboBox *files = child<QComboBox>(page, "comboBox_firmware_file");
        files->setCurrentIndex(files->findText(firmware));
        child<QCheckBox>(page, "checkBox_end")->setChecked(first != last);
        child<QSpinBox>(page, "spinbox_module_number_start")->setValue(first);
        child<QSpinBox>(page, "spinbox_module_number_end")->setValue(last);
        clickUpdate(page);
        return true;
    }

    std::string ip;
    ModuleBank bank;
    SimulatedCoupler coupler;
    ModuleFirmwareWidget page;
};

}

class TestModuleUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        for (int size : {4096, 5000, 8192})
            SandboxFiles::write(QString("Module Firmware/IO_%1.HEX").arg(size),
                                FirmwareBuilder::encryptedHex(firmwareImage(size), "0A31, V1, X=TRUE"));
        // Listed as well: the extension in lower case.
        SandboxFiles::write("Module Firmware/IO_V2.hex",
                            FirmwareBuilder::encryptedHex(firmwareImage(4096), "0A31, V2, X=TRUE"));
    }
    void init() { QSettings().clear(); }

    // Nothing stored yet.
    void formAndInputRules()
    {
        ModuleFirmwareWidget page(nullptr, TarnlowTest::environment());
        QVERIFY(!child<QCheckBox>(page, "checkBox_end")->isChecked());
        QCOMPARE(child<QLineEdit>(page, "lineEdit_port")->text(), QString("502"));
        QVERIFY(!child<QLineEdit>(page, "lineEdit_port")->isEnabled());
        QCOMPARE(child<QSpinBox>(page, "spinbox_module_number_start")->maximum(), 16);
        QCOMPARE(child<QSpinBox>(page, "spinbox_module_number_end")->maximum(), 16);
        QVERIFY(!child<QCheckBox>(page, "ADMode")->isChecked());
        QCOMPARE(child<QComboBox>(page, "comboBox_firmware_file")->count(), 4);
        QCOMPARE(child<QPushButton>(page, "button_update")->text(), QString("Update"));
        for (int i = 0; i < 4; ++i) {
            int position = 0;
            QString tooLarge = "256", byte = "255";
            QVERIFY(ipField(page, i)->validator());
            QVERIFY(ipField(page, i)->validator()->validate(tooLarge, position) != QValidator::Acceptable);
            QCOMPARE(ipField(page, i)->validator()->validate(byte, position), QValidator::Acceptable);
        }
    }

    // `storedFile`: the entry whose name is stored (-1: none), in lower case when asked.
    void storedValuesAreRestoredWithFallBacks_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QVariant>("first");
        QTest::addColumn<QVariant>("last");
        QTest::addColumn<bool>("endEnabled");
        QTest::addColumn<int>("storedFile");
        QTest::addColumn<bool>("lowerCase");
        QTest::addColumn<QString>("expectedIp");
        QTest::addColumn<int>("expectedFirst");
        QTest::addColumn<int>("expectedLast");
        QTest::addColumn<int>("expectedFile");
        QTest::newRow("plain") << "10.1.2.3" << QVariant("3") << QVariant("7") << true << 1 << false
                               << "10.1.2.3" << 3 << 7 << 1;
        QTest::newRow("text around the address, file name in another case")
            << "ip=172.16.5.9;" << QVariant("2") << QVariant("2") << false << 1 << true << "172.16.5.9" << 2 << 2 << 0;
        QTest::newRow("no address") << "coupler" << QVariant() << QVariant() << false << -1 << false
                                    << "192.168.0.212" << 1 << 1 << 0;
        QTest::newRow("first out of range") << "" << QVariant("20") << QVariant("4") << true << -1 << false
                                            << "192.168.0.212" << 1 << 4 << 0;
        QTest::newRow("last below first") << "" << QVariant("5") << QVariant("2") << true << -1 << false
                                          << "192.168.0.212" << 5 << 5 << 0;
        QTest::newRow("not numbers") << "" << QVariant("x") << QVariant("y") << true << -1 << false
                                     << "192.168.0.212" << 1 << 1 << 0;
        QTest::newRow("end unchecked, stored last kept") << "" << QVariant("6") << QVariant("9") << false << -1
                                                         << false << "192.168.0.212" << 6 << 9 << 0;
    }
    void storedValuesAreRestoredWithFallBacks()
    {
        QFETCH(QVariant, first);
        QFETCH(QVariant, last);
        QFETCH(bool, endEnabled);
        QFETCH(int, storedFile);
        QFETCH(bool, lowerCase);
        QFETCH(QString, ip);
        QSettings settings;
        if (storedFile >= 0) {
            ModuleFirmwareWidget probe(nullptr, TarnlowTest::environment());
            const QString name = child<QComboBox>(probe, "comboBox_firmware_file")->itemText(storedFile);
            settings.setValue("Module/Settings/filename", lowerCase ? name.toLower() : name);
        }
        settings.setValue("Module/Settings/ip", ip);
        if (first.isValid())
            settings.setValue("Module/Settings/module_number_start", first);
        if (last.isValid())
            settings.setValue("Module/Settings/module_number_end", last);
        settings.setValue("Module/Settings/end_enable", endEnabled ? "true" : "false");
        ModuleFirmwareWidget page(nullptr, TarnlowTest::environment());
        QTEST(ipShown(page), "expectedIp");
        QTEST(child<QSpinBox>(page, "spinbox_module_number_start")->value(), "expectedFirst");
        QTEST(child<QSpinBox>(page, "spinbox_module_number_end")->value(), "expectedLast");
        QTEST(child<QComboBox>(page, "comboBox_firmware_file")->currentIndex(), "expectedFile");
        QCOMPARE(child<QCheckBox>(page, "checkBox_end")->isChecked(), endEnabled);
        QCOMPARE(child<QSpinBox>(page, "spinbox_module_number_end")->isEnabled(), endEnabled);
    }

    void rangeStaysOrdered()
    {
        ModuleFirmwareWidget page(nullptr, TarnlowTest::environment());
        QSpinBox *first = child<QSpinBox>(page, "spinbox_module_number_start");
        QSpinBox *last = child<QSpinBox>(page, "spinbox_module_number_end");
        QCheckBox *end = child<QCheckBox>(page, "checkBox_end");
        first->setValue(4);
        QCOMPARE(last->value(), 4);   // end unchecked: copied
        end->setChecked(true);
        QVERIFY(last->isEnabled());
        last->setValue(9);
        first->setValue(6);
        QCOMPARE(last->value(), 9);
        first->setValue(12);
        QCOMPARE(last->value(), 12);
        last->setValue(3);
        QCOMPARE(first->value(), 3);
        last->setValue(10);
        end->setChecked(false);
        QCOMPARE(last->value(), 3);
        QVERIFY(!last->isEnabled());
    }

    void unreachableCouplerReportsTheConnection_data()
    {
        QTest::addColumn<QString>("lastPart");
        QTest::addColumn<QString>("why");
        QTest::newRow("nobody listening") << "40" << "Modbus TCP 127.0.0.40:%1: Connection refused.";
        QTest::newRow("empty field") << "" << "Modbus TCP 127.0.0.:%1: not an IPv4 address.";
    }
    void unreachableCouplerReportsTheConnection()
    {
        QFETCH(QString, lastPart);
        QFETCH(QString, why);
        const uint16_t port = FreePort::tcp("127.0.0.40");
        ModuleFirmwareWidget page(nullptr, TarnlowTest::environment(1, port));
        const QStringList parts = {"127", "0", "0", lastPart};
        for (int i = 0; i < 4; ++i)
            ipField(page, i)->setText(parts[i]);
        MessageBoxRecorder recorder;
        clickUpdate(page);
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().icon, QMessageBox::Critical);
        QCOMPARE(recorder.last().title, QString("Connection failed"));
        QCOMPARE(recorder.last().text, QString("Please check field of IP and port is correct"));
        QCOMPARE(recorder.last().informative,
                 why.arg(port) + "\nNo module was touched: they run the firmware they ran before.");
        QVERIFY(!QSettings().contains("Module/Settings/ip"));
        QVERIFY(child<QPushButton>(page, "button_update")->isEnabled());
    }

    void oneModuleWithTheRealPauses()
    {
        Bench bench("127.0.0.46", 1);
        MessageBoxRecorder recorder;
        QSize dialogSize;
        int dialogMaximum = 0;
        QString label;
        recorder.onBox([&](QMessageBox *) {
            const QProgressDialog *dialog = bench.page.findChild<QProgressDialog *>();
            dialogSize = dialog->size();
            dialogMaximum = dialog->maximum();
            label = dialog->labelText();
        });
        QVERIFY(bench.update("IO_5000", 3, 3));
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().icon, QMessageBox::Information);
        QCOMPARE(recorder.last().title, QString("Tarnlow"));
        QCOMPARE(recorder.last().text, kUpdated.arg(3));
        QCOMPARE(dialogSize, QSize(400, 100));
        QCOMPARE(dialogMaximum, 2 * 5000 + 1);
        QCOMPARE(label, QString("Comparing data of module 3 ..."));
        QVERIFY(flashHolds(bench.bank, 3, firmwareImage(5000)));
        QCOMPARE(bench.bank.startCount(3), 1);
        QCOMPARE(bench.bank.selectedModule(), 0);
        const Lines commands = bench.bank.commands(3);
        QCOMPARE(linesStartingWith(commands, 'C'),
                 (Lines{"C 1024 33555200 1024", "C 2048 33555200 1024", "C 3072 33555200 1024",
                        "C 4096 33555200 1024", "C 0 33555200 1024"}));
        const Lines reads = linesStartingWith(commands, 'R');
        QCOMPARE(reads.size(), size_t(27));
        QCOMPARE(reads.back(), std::string("R 4992 8"));
        QCOMPARE(bench.bank.registerReads(), (std::vector<int>{30200, 30201}));
        // 100 ms between the two target controls, 1 s before the boot loader is addressed, and
        // 500 ms between the start stub and the unlock that precedes the run command.
        const std::vector<ModuleBank::LoggedRequest> requests = bench.bank.requests();
        const size_t n = requests.size();
        QVERIFY(requests[1].received - requests[0].received >= std::chrono::milliseconds(100));
        QVERIFY(requests[2].received - requests[1].received >= std::chrono::milliseconds(1000));
        QVERIFY(requests[n - 4].received - requests[n - 5].received >= std::chrono::milliseconds(500));
        compareSettings({{"Module/Settings/ip", "127.0.0.46"}, {"Module/Settings/module_number_start", "3"},
                         {"Module/Settings/module_number_end", "3"}, {"Module/Settings/filename", "IO_5000"},
                         {"Module/Settings/end_enable", "false"}});
        QVERIFY(child<QPushButton>(bench.page, "button_update")->isEnabled());
    }

    // Module 2 is the large-flash variant and answers late, within the response time-out.
    void rangeWritesBlockZeroLastOnEveryModule()
    {
        Bench bench("127.0.0.47");
        bench.bank.setModule(2, {kProductCode, 0x1FFF, true});
        ModuleFaults late;
        late.replyDelayMs = 5;
        bench.bank.setFaults(2, late);
        bench.bank.setReplySplit(9);   // every reply in two TCP segments
        MessageBoxRecorder recorder;
        QVERIFY(bench.update("IO_4096", 1, 2));
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().text, kUpdated.arg("1-2"));
        for (int module : {1, 2}) {
            QVERIFY(flashHolds(bench.bank, module, firmwareImage(4096)));
            QCOMPARE(bench.bank.startCount(module), 1);
            QCOMPARE(linesStartingWith(bench.bank.commands(module), 'C'),
                     (Lines{"C 1024 33555200 1024", "C 2048 33555200 1024", "C 3072 33555200 1024",
                            "C 0 33555200 1024"}));
        }
        QCOMPARE(linesStartingWith(bench.bank.commands(1), 'E'), (Lines{"E 0 15"}));
        QCOMPARE(linesStartingWith(bench.bank.commands(2), 'E'), (Lines{"E 0 63"}));
        QCOMPARE(bench.bank.registerReads(), (std::vector<int>{30000, 30100, 30001, 30101}));
        compareSettings({{"Module/Settings/end_enable", "true"}, {"Module/Settings/module_number_end", "2"}});
    }

    void failedComparisonStopsTheRangeAtThatModule()
    {
        Bench bench("127.0.0.48");
        ModuleFaults flip;
        flip.flipFlashBitAt = 2100;
        bench.bank.setFaults(5, flip);
        MessageBoxRecorder recorder;
        QVERIFY(bench.update("IO_4096", 4, 6));
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().icon, QMessageBox::Critical);
        QCOMPARE(recorder.last().text,
                 QString("Burning Firmware to module 5 Failed. Comparison is NOT equal. Content is "
                         "different between local file and flash."));
        // What each module of the range runs now, and what to do.
        QCOMPARE(recorder.last().informative,
                 QString("Module 4 runs the new firmware; module 5 is in its boot loader, its firmware erased or "
                         "incomplete: run the update again; module 6 was not touched: it runs the firmware it ran "
                         "before."));
        QCOMPARE(bench.bank.startCount(4), 1);
        QVERIFY(flashHolds(bench.bank, 4, firmwareImage(4096)));
        QCOMPARE(bench.bank.startCount(5), 0);
        QVERIFY(bench.bank.commands(6).empty());
        QVERIFY(child<QPushButton>(bench.page, "button_update")->isEnabled());
        // The history keeps each module of the range alone, newest entry first.
        UpdateHistory history;
        const QList<HistoryEntry> entries = history.list({"127.0.0.48", {}}).value_or(QList<HistoryEntry>());
        QCOMPARE(entries.size(), 3);
        const QString sha256 = QCryptographicHash::hash(firmwareImage(4096), QCryptographicHash::Sha256).toHex();
        const QStringList expected = {
            "module 6 behind 127.0.0.48|aborted|Not started: the run of the range ended with module 5.|Module 6 "
            "was not touched: it runs the firmware it ran before.",
            "module 5 behind 127.0.0.48|failed|" + recorder.last().text + "|Module 5 is in its boot loader, its "
            "firmware erased or incomplete: run the update again.",
            "module 4 behind 127.0.0.48|verified|" + kUpdated.arg(4) + "|Module 4 runs the new firmware."};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(QStringList({entries[i].target, entries[i].outcome, entries[i].text, entries[i].deviceState})
                         .join('|'),
                     expected[i]);
            QCOMPARE(entries[i].surface, QString("page"));
            QCOMPARE(entries[i].imageSha256, sha256);
            QCOMPARE(entries[i].productCode, std::optional<quint32>(kProductCode));
        }
    }

    void mismatchingModulesAreListedAndNothingIsWritten_data()
    {
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<std::vector<int>>("reads");
        QTest::addColumn<QString>("text");
        QTest::newRow("product code") << "IO_4096" << std::vector<int>{30100, 30200, 30300, 30400}
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
        bench.bank.setModule(4, {kProductCode, 0x0000, false});
        MessageBoxRecorder recorder;
        QVERIFY(bench.update(firmware, 2, 5));
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().icon, QMessageBox::Critical);
        QCOMPARE(recorder.last().title, QString("Firmware matching error"));
        QCOMPARE(recorder.last().text, text);
        QCOMPARE(bench.bank.registerReads(), reads);
        QVERIFY(bench.bank.requests().empty());
        QVERIFY(!QSettings().contains("Module/Settings/ip"));
    }

    // The warning comes each time advance mode is checked, none when it is unchecked; the update
    // then reads no register and writes a module of another product.
    void advanceModeWarnsAndReadsNoRegister()
    {
        Bench bench("127.0.0.51");
        bench.bank.setModule(2, {0x0702, 0x2000, false});
        MessageBoxRecorder recorder;
        QCheckBox *advance = child<QCheckBox>(bench.page, "ADMode");
        advance->setChecked(true);
        advance->setChecked(false);
        advance->setChecked(true);
        QCOMPARE(recorder.count(), 2);
        QCOMPARE(recorder.last().icon, QMessageBox::Warning);
        QCOMPARE(recorder.last().title, QString("Advance mode"));
        QCOMPARE(recorder.last().text, kAdvanceWarning);
        QVERIFY(bench.update("IO_4096", 2, 2));
        QCOMPARE(recorder.count(), 3);
        QCOMPARE(recorder.last().text, kUpdated.arg(2));
        QVERIFY(bench.bank.registerReads().empty());
        QVERIFY(flashHolds(bench.bank, 2, firmwareImage(4096)));
    }

    void moduleThatDoesNotSynchronizeEndsTheRange()
    {
        Bench bench("127.0.0.52");
        ModuleFaults lowerCase;
        lowerCase.answersLowerCase = true;
        bench.bank.setFaults(2, lowerCase);
        const QByteArray old(4096, 0x5A);
        bench.bank.setFlash(2, std::vector<uint8_t>(old.begin(), old.end()));
        MessageBoxRecorder recorder;
        QVERIFY(bench.update("IO_4096", 1, 3));
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().icon, QMessageBox::Critical);
        QCOMPARE(recorder.last().text, QString("Connection failed. Synchronizing baudrate of module failed."));
        QCOMPARE(bench.bank.startCount(1), 1);
        QVERIFY(flashHolds(bench.bank, 2, old));
        QVERIFY(bench.bank.commands(3).empty());
        // One "?" for module 1, fifteen for module 2.
        const auto requests = bench.bank.requests();
        QCOMPARE(std::count_if(requests.begin(), requests.end(),
                               [](const ModuleBank::LoggedRequest &request) {
                                   return request.pdu == std::vector<uint8_t>{0x6D, 0, 2, 1, '?'};
                               }),
                 16L);
    }

    // Abort pressed once the third block written (block 3) has staged three chunks: that block is
    // sealed with what was staged, block 0 is sealed empty, nothing is read back, and neither is
    // module 1 started nor module 2 touched.
    void abortDuringTheThirdBlock()
    {
        Bench bench("127.0.0.54");
        QString label;
        QTimer abortPresser;
        abortPresser.setInterval(0);
        connect(&abortPresser, &QTimer::timeout, [&] {
            QProgressDialog *dialog = bench.page.findChild<QProgressDialog *>();
            if (dialog && dialog->isVisible() && dialog->value() >= 2048 + 256) {
                const QList<QPushButton *> buttons = dialog->findChildren<QPushButton *>();
                QVERIFY(!buttons.isEmpty());
                QCOMPARE(buttons.first()->text(), QString("Abort"));
                label = dialog->labelText();
                buttons.first()->click();
                abortPresser.stop();
            }
        });
        abortPresser.start();
        MessageBoxRecorder recorder;
        QVERIFY(bench.update("IO_8192", 1, 2));
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().icon, QMessageBox::Information);
        QCOMPARE(recorder.last().text, QString("User cancel the operation."));
        QCOMPARE(recorder.last().informative,
                 QString("Module 1 is in its boot loader, its firmware erased or incomplete: run the update again; "
                         "module 2 was not touched: it runs the firmware it ran before."));
        QCOMPARE(label, QString("Burning Firmware to module 1..."));
        const Lines commands = bench.bank.commands(1);
        QCOMPARE(linesStartingWith(commands, 'C'),
                 (Lines{"C 1024 33555200 1024", "C 2048 33555200 1024", "C 3072 33555200 384",
                        "C 0 33555200 0"}));
        QCOMPARE(linesStartingWith(commands, 'W').size(), size_t(8 + 8 + 3));
        QVERIFY(linesStartingWith(commands, 'R').empty());
        QCOMPARE(bench.bank.startCount(1), 0);
        QVERIFY(bench.bank.commands(2).empty());
        QVERIFY(child<QPushButton>(bench.page, "button_update")->isEnabled());
    }

    // A coupler whose Modbus server takes the connection but never answers: the reads count as
    // 0 and the box says which registers could not be read.
    void silentCouplerNamesTheUnreadRegisters()
    {
        Bench bench("127.0.0.39", 100, SimulatedCouplerSetup::Modbus::Silent);
        MessageBoxRecorder recorder;
        QVERIFY(bench.update("IO_4096", 1, 2));
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().text, QString("Firmware does not match with the module 1, 2"));
        QCOMPARE(recorder.last().informative,
                 QString("Register 30000 of module 1 could not be read: Connection timed out.\n"
                         "Register 30100 of module 2 could not be read: Connection timed out.\n"
                         "Modules 1-2 were not touched: they run the firmware they ran before."));
        QVERIFY(bench.bank.requests().empty());
    }
};

TARNLOW_TEST_MAIN(TestModuleUpdate)
#include "test_module_update.moc"
