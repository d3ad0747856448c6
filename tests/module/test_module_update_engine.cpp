// The module update engine without a window: a scripted in-memory coupler holds every exchange a
// run must make, in order, and fails on any other; the fixed waits are shortened to nothing.
#include "core/fixed_waits.h"
#include "firmware/hex_image.h"
#include "module/module_update_engine.h"
#include "tests/module/scripted_pass_through_link.h"
#include "tests/support/test_main.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<uint8_t>;
using Outcome = ModuleRunResult::Outcome;
using Icon = UpdateOutcome::Icon;
// Register address and the value it reads; a negative value: the read fails.
using RegisterScript = std::vector<std::pair<int, int>>;

Q_DECLARE_METATYPE(RegisterScript)

namespace {

constexpr uint16_t kProductCode = 0x0A31;
const char *const kOk = "0\r\n";

class RecordingObserver : public ModuleUpdateObserver
{
public:
    void checksPassed() override { ++checksPassedCount; }
    void setLabelText(const QString &text) override { labels << text; }
    void setRange(int, int maximum) override { rangeMaximum = maximum; }
    void show() override { ++shown; }
    void debugLine(const QString &) override {}
    void setProgressValue(int value) override
    {
        if (cancelAtValue && value >= *cancelAtValue)
            canceled = true;
    }
    bool wasCanceled() override { return canceled; }

    std::optional<int> cancelAtValue;
    bool canceled = false;
    int checksPassedCount = 0;
    int shown = 0;
    int rangeMaximum = 0;
    QStringList labels;
};

HexImage firmwareOf(int length)
{
    HexImage hex(HexPageProfile::module());
    for (int i = 0; i < length; ++i)
        hex.image[size_t(i)] = static_cast<uint8_t>(i * 7 + 3);
    hex.imageLength = length;
    hex.productCode = kProductCode;
    hex.hardwareVersion = 0x1000;
    return hex;
}

std::string text(const Bytes &bytes, int offset, int n)
{
    return std::string(bytes.begin() + offset, bytes.begin() + offset + n);
}

std::string command(const char *format, long a, long b)
{
    return QString::asprintf(format, a, b).toStdString();
}

void expectTargetControl(ScriptedPassThroughLink &link, uint8_t value, uint8_t marker, uint8_t sub = 1)
{
    link.expectRequest({1, 0x6D, 0x00, sub, value, marker}, ScriptedPassThroughLink::replyFrame(""));
}

void expectRegisters(ScriptedPassThroughLink &link, const RegisterScript &reads)
{
    for (const auto &read : reads)
        link.expectRegisterRead(read.first, read.second < 0 ? std::nullopt
                                                            : std::optional<uint16_t>(uint16_t(read.second)));
}

void expectSelectAndHandshake(ScriptedPassThroughLink &link, int module, const std::string &identification)
{
    expectTargetControl(link, 0, 0xAA);
    expectTargetControl(link, uint8_t(module), 0xAA);
    link.expectBootBytes("?", "Synchronized\r\n");
    for (const char *line : {"Synchronized\r\n", "0\r\n", "A 0\r\n"})
        link.expectBootBytes(line, kOk);
    link.expectBootBytes("J\r\n", "0\r\n" + identification + "\r\n");
}

void expectErase(ScriptedPassThroughLink &link, int lastSector)
{
    link.expectBootBytes("U 41975\r\n", kOk);
    link.expectBootBytes(command("P 0 %ld\r\n", lastSector, 0), kOk);
    link.expectBootBytes(command("E 0 %ld\r\n", lastSector, 0), kOk);
}

void expectBlock(ScriptedPassThroughLink &link, const HexImage &hex, int address, int lastSector,
                 int chunks = 8)
{
    link.expectBootBytes("U 41975\r\n", kOk);
    for (int k = 0; k < chunks; ++k) {
        link.expectBootBytes(command("W %ld %ld\r\n", 33555200 + 128 * k, 128), kOk);
        link.expectBootBytes(text(hex.image, address + 128 * k, 128), std::nullopt);
    }
    link.expectBootBytes(command("P 0 %ld\r\n", lastSector, 0), kOk);
    link.expectBootBytes(command("C %ld 33555200 %ld\r\n", address, 128 * chunks), kOk);
}

void expectReadBack(ScriptedPassThroughLink &link, const Bytes &flash, int length, int silentOffset = -1)
{
    for (int offset = 0; offset < length; offset += 192) {
        const int n = std::min(192, length - offset);
        const std::optional<std::string> answer = offset == silentOffset
            ? std::nullopt
            : std::optional<std::string>("0\r\n" + text(flash, offset, n));
        link.expectBootBytes(command("R %ld %ld\r\n", offset, n), answer);
    }
}

void expectStart(ScriptedPassThroughLink &link)
{
    const Bytes stub = {0x04, 0x4C, 0x26, 0x68, 0x65, 0x68, 0x30, 0x46, 0x80, 0xF3, 0x08, 0x88,
                        0x00, 0xBF, 0xBF, 0xF3, 0x6F, 0x8F, 0xA8, 0x47, 0x00, 0x00, 0x00, 0x00};
    link.expectBootBytes("W 33555200 24\r\n", kOk);
    link.expectBootBytes(text(stub, 0, 24) + "A 1\r\n", kOk);
    link.expectBootBytes("U 41975\r\n", kOk);
    link.expectBootBytes("G 33555200 T\r\n", kOk);
    expectTargetControl(link, 1, 0x55);
    expectTargetControl(link, 0x55, 0xAA, 3);
}

ModuleRunResult run(ScriptedPassThroughLink &link, RecordingObserver &observer, const HexImage &hex,
                    int first, int last)
{
    ModuleUpdateEngine engine({link, first, last}, observer, [](int) {});
    const ModuleRunResult result = engine.run(hex);
    for (const std::string &surprise : link.unexpected)
        qWarning("%s", surprise.c_str());
    return result;
}

bool scriptPlayedOut(const ScriptedPassThroughLink &link)
{
    return link.unexpected.empty() && link.remaining() == 0;
}

void compareBox(const UpdateOutcome &box, UpdateOutcome::Icon icon, const QString &title, const QString &text)
{
    QCOMPARE(box.icon, icon);
    QCOMPARE(box.title, title);
    QCOMPARE(box.text, text);
}

}

class TestModuleUpdateEngine : public QObject
{
    Q_OBJECT

private slots:

    void twoModulesAreWrittenReadBackAndStartedInTurn()
    {
        const HexImage hex = firmwareOf(1100);
        ScriptedPassThroughLink link;
        expectRegisters(link,
                        {{30000, kProductCode}, {30100, kProductCode}, {30001, 0x1FFF}, {30101, 0x0000}});
        for (int module : {1, 2}) {
            const int lastSector = module == 1 ? 15 : 63;
            expectSelectAndHandshake(link, module, module == 1 ? "1234" : "5449");
            expectErase(link, lastSector);
            expectBlock(link, hex, 1024, lastSector);
            expectBlock(link, hex, 0, lastSector);
            expectReadBack(link, hex.image, 1100);
            expectStart(link);
        }
        RecordingObserver observer;
        const ModuleRunResult result = run(link, observer, hex, 1, 2);
        QVERIFY(scriptPlayedOut(link));
        QCOMPARE(result.outcome, Outcome::Updated);
        compareBox(result.box, Icon::Information, "Tarnlow",
                   "Burning firmware successful. Firmware of module 1-2 has been updated.");
        QCOMPARE(observer.checksPassedCount, 1);
        QCOMPARE(observer.shown, 2);
        QCOMPARE(observer.rangeMaximum, 2201);
        QCOMPARE(observer.labels,
                 QStringList({"Burning Firmware to module 1...", "Reading flash data on module 1 ...",
                              "Comparing data of module 1 ...", "Burning Firmware to module 2...",
                              "Reading flash data on module 2 ...", "Comparing data of module 2 ..."}));
    }

    void mismatchingModulesEndTheRunBeforeAnyModuleIsTouched_data()
    {
        QTest::addColumn<RegisterScript>("reads");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("informative");
        QTest::newRow("product code") << RegisterScript{{30100, kProductCode}, {30200, 0x0702}}
                                      << "Firmware does not match with the module 3" << "";
        QTest::newRow("hardware version")
            << RegisterScript{{30100, kProductCode}, {30200, kProductCode}, {30101, 0x2000}, {30201, 0x1000}}
            << "Firmware does not match with with the model 2" << "";
        QTest::newRow("information registers unanswered")
            << RegisterScript{{30100, -1}, {30200, -1}} << "Firmware does not match with the module 2, 3"
            << "Register 30100 of module 2 could not be read: Connection timed out.\n"
               "Register 30200 of module 3 could not be read: Connection timed out.";
    }
    void mismatchingModulesEndTheRunBeforeAnyModuleIsTouched()
    {
        QFETCH(RegisterScript, reads);
        QFETCH(QString, text);
        QFETCH(QString, informative);
        ScriptedPassThroughLink link;
        expectRegisters(link, reads);
        RecordingObserver observer;
        const ModuleRunResult result = run(link, observer, firmwareOf(2048), 2, 3);
        QVERIFY(scriptPlayedOut(link));
        QCOMPARE(result.outcome, Outcome::ModulesDoNotMatch);
        compareBox(result.box, Icon::Critical, "Firmware matching error", text);
        QCOMPARE(result.box.informative, informative);
        QCOMPARE(observer.checksPassedCount, 0);
    }

    void moduleThatNeverSynchronizesIsNotErased()
    {
        ScriptedPassThroughLink link;
        expectRegisters(link, {{30000, kProductCode}, {30001, 0x1000}});
        expectTargetControl(link, 0, 0xAA);
        expectTargetControl(link, 1, 0xAA);
        for (int attempt = 0; attempt < 15; ++attempt)
            link.expectBootBytes("?", "synchronized\r\n");
        RecordingObserver observer;
        const ModuleRunResult result = run(link, observer, firmwareOf(2048), 1, 1);
        QVERIFY(scriptPlayedOut(link));
        QCOMPARE(result.outcome, Outcome::NotSynchronized);
        compareBox(result.box, Icon::Critical, "Tarnlow", "Connection failed. Synchronizing baudrate of module failed.");
    }

    // Whatever the read-back lacks, the module is neither started nor reported updated.
    void readBackThatIsNotTheImageIsNoSuccess_data()
    {
        QTest::addColumn<int>("flippedByte");
        QTest::addColumn<int>("silentRead");
        QTest::newRow("one byte differs") << 400 << -1;
        QTest::newRow("one read unanswered") << -1 << 384;
    }
    void readBackThatIsNotTheImageIsNoSuccess()
    {
        QFETCH(int, flippedByte);
        QFETCH(int, silentRead);
        HexImage hex = firmwareOf(700);
        // Where the read goes unanswered the file holds 0xFF, as the read-back buffer starts:
        // only the missing answer tells that those bytes were never verified.
        if (silentRead >= 0)
            std::fill(hex.image.begin() + silentRead, hex.image.begin() + silentRead + 192, 0xFF);
        Bytes flash(hex.image.begin(), hex.image.begin() + 700);
        if (flippedByte >= 0)
            flash[size_t(flippedByte)] ^= 0x01;
        ScriptedPassThroughLink link;
        expectRegisters(link, {{30300, kProductCode}, {30301, 0x1000}});
        expectSelectAndHandshake(link, 4, "1234");
        expectErase(link, 15);
        expectBlock(link, hex, 0, 15);
        expectReadBack(link, flash, 700, silentRead);
        RecordingObserver observer;
        const ModuleRunResult result = run(link, observer, hex, 4, 4);
        QVERIFY(scriptPlayedOut(link));
        QCOMPARE(result.outcome, Outcome::FlashDiffers);
        compareBox(result.box, Icon::Critical, "Tarnlow",
                   "Burning Firmware to module 4 Failed. Comparison is NOT equal. Content is "
                   "different between local file and flash.");
    }

    // A stop asked for while the modules were checked: no module is selected.
    void stopDuringTheChecksTouchesNoModule()
    {
        ScriptedPassThroughLink link;
        expectRegisters(link, {{30000, kProductCode}, {30001, 0x1000}});
        RecordingObserver observer;
        observer.canceled = true;
        const ModuleRunResult result = run(link, observer, firmwareOf(2048), 1, 1);
        QVERIFY(scriptPlayedOut(link));
        QCOMPARE(result.outcome, Outcome::Cancelled);
    }

    // Abort noticed after the third chunk of block 2: that block is sealed with what was staged,
    // block 0 is sealed empty, nothing is read back, neither module 1 is started nor module 2 touched.
    void abortInsideABlockStopsAfterSealingIt()
    {
        const HexImage hex = firmwareOf(3072);
        ScriptedPassThroughLink link;
        expectRegisters(link,
                        {{30000, kProductCode}, {30100, kProductCode}, {30001, 0x1000}, {30101, 0x1000}});
        expectSelectAndHandshake(link, 1, "1234");
        expectErase(link, 15);
        expectBlock(link, hex, 1024, 15);
        expectBlock(link, hex, 2048, 15, 3);
        expectBlock(link, hex, 0, 15, 0);
        RecordingObserver observer;
        observer.cancelAtValue = 1024 + 2 * 128;
        const ModuleRunResult result = run(link, observer, hex, 1, 2);
        QVERIFY(scriptPlayedOut(link));
        QCOMPARE(result.outcome, Outcome::Cancelled);
        compareBox(result.box, Icon::Information, "Tarnlow", "User cancel the operation.");
    }
};

TARNLOW_TEST_MAIN(TestModuleUpdateEngine)
#include "test_module_update_engine.moc"
