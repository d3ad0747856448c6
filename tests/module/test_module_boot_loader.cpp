// The boot-loader protocol spoken to the simulated module bank directly (no coupler, no TCP):
// the command lines, the chunking of writes and reads, cancelling, the variants and the faults.
#include "app/fixed_wait.h"
#include "module/module_boot_loader.h"
#include "sim/module_bank.h"
#include "tests/module/bank_link.h"
#include "tests/support/test_main.h"

#include <random>

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

namespace {

// Cancels when asked for the cancel state the given number of times (0: never).
class ScriptedProgress : public BootProgress
{
public:
    explicit ScriptedProgress(int cancelOnQuery = 0) : m_cancelOnQuery(cancelOnQuery) {}
    void setProgressValue(int value) override { values.push_back(value); }
    bool wasCanceled() override
    {
        ++m_queries;
        return m_cancelOnQuery > 0 && m_queries >= m_cancelOnQuery;
    }
    std::vector<int> values;

private:
    int m_cancelOnQuery;
    int m_queries = 0;
};

Bytes randomImage(size_t size, unsigned salt)
{
    std::mt19937 generator(salt);
    Bytes image(1024 * 1024, 0xFF);
    for (size_t i = 0; i < size; ++i)
        image[i] = static_cast<uint8_t>(generator());
    return image;
}

Lines linesStartingWith(const Lines &all, char letter)
{
    Lines picked;
    for (const std::string &line : all)
        if (!line.empty() && line[0] == letter)
            picked.push_back(line);
    return picked;
}

}

class TestModuleBootLoader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { FixedWait::setFixedWaitDivisorForTests(100); }

    void handshakeIdentifiesEachModuleAfresh()
    {
        ModuleBank bank(16);
        bank.setModule(2, {0x1234, 0x1000, true});
        BankLink link(bank);
        ModuleTransport transport(link);
        ScriptedProgress progress;
        ModuleBootLoader loader(transport, progress);

        transport.selectModule(2);
        QCOMPARE(loader.synchronize(), std::optional<ModuleVariant>(ModuleVariant::LargeFlash));
        loader.erase(ModuleVariant::LargeFlash);
        transport.selectModule(3);
        QCOMPARE(loader.synchronize(), std::optional<ModuleVariant>(ModuleVariant::Standard));
        loader.erase(ModuleVariant::Standard);

        QCOMPARE(bank.commands(2), (Lines{"A 0", "J", "U 41975", "P 0 63", "E 0 63"}));
        QCOMPARE(bank.commands(3), (Lines{"A 0", "J", "U 41975", "P 0 15", "E 0 15"}));
        // The handshake itself: "?" alone, then the echo and the clock line.
        const Bytes question = {1, 0x6D, 0, 2, 1, '?'};
        QCOMPARE(link.rawRequests[2], question);
        const std::string echo(link.rawRequests[3].begin() + 5, link.rawRequests[3].end());
        QCOMPARE(echo, std::string("Synchronized\r\n"));
    }

    void handshakeFailsAfterFifteenAttempts_data()
    {
        QTest::addColumn<bool>("lowerCase");
        QTest::newRow("never answers") << false;
        QTest::newRow("lower-case answer") << true;
    }
    void handshakeFailsAfterFifteenAttempts()
    {
        QFETCH(bool, lowerCase);
        ModuleBank bank(4);
        ModuleFaults faults;
        faults.neverSynchronizes = !lowerCase;
        faults.answersLowerCase = lowerCase;
        bank.setFaults(1, faults);
        BankLink link(bank);
        ModuleTransport transport(link);
        ScriptedProgress progress;
        ModuleBootLoader loader(transport, progress);
        transport.selectModule(1);
        QVERIFY(!loader.synchronize());
        QCOMPARE(link.rawRequests.size(), size_t(2 + 15));
    }

    void blockWriteStagesEightChunksAndCopies()
    {
        ModuleBank bank(1);
        BankLink link(bank);
        ModuleTransport transport(link);
        ScriptedProgress progress;
        ModuleBootLoader loader(transport, progress);
        const Bytes image = randomImage(4096, 1);
        transport.selectModule(1);
        QVERIFY(loader.synchronize());
        loader.erase(ModuleVariant::Standard);
        loader.writeFlashBlock(image, 3072, ModuleVariant::Standard);

        Lines expected = {"U 41975"};
        for (int k = 0; k < 8; ++k)
            expected.push_back("W " + std::to_string(33555200 + 128 * k) + " 128");
        expected.insert(expected.end(), {"P 0 15", "C 3072 33555200 1024"});
        const Lines all = bank.commands(1);
        QCOMPARE(Lines(all.end() - 11, all.end()), expected);
        QCOMPARE(progress.values, (std::vector<int>{0, 128, 256, 384, 512, 640, 768, 896}));
        const Bytes flash = bank.flash(1);
        QVERIFY(std::equal(image.begin() + 3072, image.begin() + 4096, flash.begin() + 3072));
        // Each data packet is a 133-byte raw request and draws no answer.
        QCOMPARE(link.rawRequests[link.rawRequests.size() - 3].size(), size_t(133));
    }

    void cancelBeforeTheThirdChunkCopiesWhatWasStaged()
    {
        ModuleBank bank(1);
        BankLink link(bank);
        ModuleTransport transport(link);
        ScriptedProgress progress(3);
        ModuleBootLoader loader(transport, progress);
        transport.selectModule(1);
        QVERIFY(loader.synchronize());
        loader.writeFlashBlock(randomImage(1024, 2), 0, ModuleVariant::Standard);
        const Lines all = bank.commands(1);
        QCOMPARE(linesStartingWith(all, 'W').size(), size_t(2));
        QCOMPARE(all[all.size() - 2], std::string("P 0 15"));
        QCOMPARE(all.back(), std::string("C 0 33555200 256"));
    }

    void readBackIn192ByteChunks()
    {
        ModuleBank bank(1);
        const Bytes image = randomImage(500, 3);
        bank.setFlash(1, Bytes(image.begin(), image.begin() + 500));
        BankLink link(bank);
        ModuleTransport transport(link);
        ScriptedProgress progress;
        ModuleBootLoader loader(transport, progress);
        transport.selectModule(1);
        QVERIFY(loader.synchronize());
        Bytes readBack(1024 * 1024, 0xFF);
        QVERIFY(loader.readFlash(500, readBack));
        QCOMPARE(linesStartingWith(bank.commands(1), 'R'), (Lines{"R 0 192", "R 192 192", "R 384 116"}));
        QVERIFY(std::equal(image.begin(), image.begin() + 500, readBack.begin()));
        QCOMPARE(readBack[500], uint8_t(0xFF));
        QCOMPARE(progress.values, (std::vector<int>{0, 192, 384}));
    }

    void readBackWithoutAnswersIsNotComplete()
    {
        ModuleBank bank(1);
        bank.setFlash(1, Bytes(1024, 0xFF));
        BankLink link(bank);
        ModuleTransport transport(link);
        ScriptedProgress progress;
        ModuleBootLoader loader(transport, progress);
        transport.selectModule(1);
        QVERIFY(loader.synchronize());
        Bytes readBack(1024 * 1024, 0xFF);
        QVERIFY(loader.readFlash(400, readBack));
        link.dropReplies = true;
        QVERIFY(!loader.readFlash(400, readBack));
    }

    void startRunsTheStubAndReleases()
    {
        ModuleBank bank(1);
        BankLink link(bank);
        ModuleTransport transport(link);
        ScriptedProgress progress;
        ModuleBootLoader loader(transport, progress);
        transport.selectModule(1);
        QVERIFY(loader.synchronize());
        const size_t before = link.rawRequests.size();
        loader.startModuleFirmware();
        QCOMPARE(bank.startCount(1), 1);
        QCOMPARE(bank.selectedModule(), 0);
        const Bytes &packet = link.rawRequests[before + 1];
        QCOMPARE(packet.size(), size_t(5 + 29));
        QCOMPARE(packet[4], uint8_t(29));
        QCOMPARE(std::string(packet.end() - 5, packet.end()), std::string("A 1\r\n"));
        QVERIFY(std::equal(ModuleBootLoader::kStartStub.begin(), ModuleBootLoader::kStartStub.end(),
                           packet.begin() + 5));
        const Lines all = bank.commands(1);
        QCOMPARE(Lines(all.end() - 4, all.end()), (Lines{"W 33555200 24", "A 1", "U 41975", "G 33555200 T"}));
        QCOMPARE(link.rawRequests[before + 4], (Bytes{1, 0x6D, 0, 1, 1, 0x55}));
        QCOMPARE(link.rawRequests[before + 5], (Bytes{1, 0x6D, 0, 3, 0x55, 0xAA}));
    }

    void informationRegistersOfEachModule()
    {
        ModuleBank bank(16);
        bank.setModule(16, {0x0702, 0x2000, false});
        BankLink link(bank);
        ModuleTransport transport(link);
        QCOMPARE(ModuleTransport::productCodeRegister(1), 30000);
        QCOMPARE(ModuleTransport::hardwareVersionRegister(16), 31501);
        QCOMPARE(transport.readModuleRegister(31500), uint16_t(0x0702));
        QCOMPARE(transport.readModuleRegister(31501), uint16_t(0x2000));
        ModuleBank fewer(2);
        BankLink fewerLink(fewer);
        ModuleTransport fewerTransport(fewerLink);
        QCOMPARE(fewerTransport.readModuleRegister(30300), uint16_t(0));
    }
};

TARNLOW_TEST_MAIN(TestModuleBootLoader)
#include "test_module_boot_loader.moc"
