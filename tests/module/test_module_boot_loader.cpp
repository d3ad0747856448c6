// The boot-loader protocol spoken to the simulated module bank directly (no coupler, no TCP):
// the handshake's limit, reads that go unanswered, the start, the variants and the faults.
#include "core/fixed_waits.h"
#include "module/module_boot_loader.h"
#include "sim/module_bank.h"
#include "tests/module/bank_link.h"
#include "tests/support/test_main.h"

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

}

class TestModuleBootLoader : public QObject
{
    Q_OBJECT

private slots:

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
        ModuleTransport transport(link, FixedWaits(100).blocking());
        ScriptedProgress progress;
        ModuleBootLoader loader(transport, progress);
        transport.selectModule(1);
        QVERIFY(!loader.synchronize());
        QCOMPARE(link.rawRequests.size(), size_t(2 + 15));
    }

    void readBackWithoutAnswersIsNotComplete()
    {
        ModuleBank bank(1);
        bank.setFlash(1, Bytes(1024, 0xFF));
        BankLink link(bank);
        ModuleTransport transport(link, FixedWaits(100).blocking());
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
        ModuleTransport transport(link, FixedWaits(100).blocking());
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

};

TARNLOW_TEST_MAIN(TestModuleBootLoader)
#include "test_module_boot_loader.moc"
