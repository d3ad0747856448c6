// The module update engine and its protocol layers without a window: the simulated module bank
// straight behind the engine, with every raw request of a run compared byte for byte; and the
// pass-through on a real libmodbus context against the simulated coupler.
#include "firmware/hex_image.h"
#include "modbus/modbus_tcp_link.h"
#include "module/module_update_engine.h"
#include "module/module_update_outcome.h"
#include "sim/module_bank.h"
#include "sim/simulated_coupler.h"
#include "tests/support/test_main.h"

#include <algorithm>
#include <deque>

using Bytes = std::vector<uint8_t>;
using Requests = std::vector<Bytes>;
using Kind = UpdateResult::Kind;
using After = UpdateResult::DeviceAfter;
using Icon = UpdateOutcome::Icon;
using namespace std::string_literals;

namespace {

constexpr uint16_t kProductCode = 0x0A31;
const char *const kNotSynchronized = "Connection failed. Synchronizing baudrate of module failed.";

// A boot-loader-bytes request as the link gets it: unit 1, function 109, 0, sub-function 2, the
// count, the bytes.
Bytes boot(const std::string &text)
{
    Bytes request(text.begin(), text.end());
    request.insert(request.begin(), {1, 0x6D, 0, 2, static_cast<uint8_t>(text.size())});
    return request;
}

// The bank without coupler or TCP: each raw request is recorded and handed to the bank as a PDU,
// its answer framed as the coupler frames it; the answer to the boot text `unanswered` is lost.
class BankLink : public PassThroughLink
{
public:
    explicit BankLink(ModuleBank &bank) : m_bank(bank) {}

    void setResponseTimeout(int, int) override {}
    void sendRawRequest(const uint8_t *request, int length) override
    {
        requests.emplace_back(request, request + length);
        const ExtensionReply reply = m_bank.handleUserFunction(Bytes(request + 1, request + length));
        if (reply.send && (unanswered.empty() || requests.back() != boot(unanswered)))
            m_replies.push_back(Mbap::frame(0, request[0], reply.pdu));
    }
    int receiveReply(uint8_t *frame) override
    {
        if (m_replies.empty())
            return -1;
        const Bytes reply = m_replies.front();
        m_replies.pop_front();
        std::copy(reply.begin(), reply.end(), frame);
        return static_cast<int>(reply.size());
    }
    bool readHoldingRegister(int address, uint16_t &value) override
    {
        return m_bank.readHoldingRegister(address, value);
    }

    Requests requests;
    std::string unanswered;

private:
    ModuleBank &m_bank;
    std::deque<Bytes> m_replies;
};

// The phases as the page labels them.
class RecordingProgress : public UpdateProgress, public CancelToken
{
public:
    void checksPassed() override { ++checksPassedCount; }
    void phase(UpdatePhase phase, int module) override { labels << modulePhaseLabel(phase, module); }
    void setMaximum(int maximum) override { rangeMaximum = maximum; }
    bool requested() override { return canceled; }

    bool canceled = false;
    int checksPassedCount = 0;
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

// Every raw request of one module's update, in order: select, handshake, erase, blocks 1 to the
// last and then block 0 (eight 128-byte chunks staged in RAM each), 192-byte reads, start, release.
Requests moduleRequests(const HexImage &hex, int module, int lastSector)
{
    const std::string sectors = " 0 " + std::to_string(lastSector) + "\r\n";
    Requests requests = {{1, 0x6D, 0, 1, 0, 0xAA}, {1, 0x6D, 0, 1, static_cast<uint8_t>(module), 0xAA}};
    for (const std::string &line :
         {"?"s, "Synchronized\r\n"s, "0\r\n"s, "A 0\r\n"s, "J\r\n"s, "U 41975\r\n"s, "P" + sectors, "E" + sectors})
        requests.push_back(boot(line));
    const int blocks = (hex.imageLength + 1023) / 1024;
    for (int i = 1; i <= blocks; ++i) {
        const int address = 1024 * (i % blocks);
        requests.push_back(boot("U 41975\r\n"));
        for (int k = 0; k < 8; ++k) {
            const auto chunk = hex.image.begin() + address + 128 * k;
            requests.push_back(boot("W " + std::to_string(33555200 + 128 * k) + " 128\r\n"));
            requests.push_back(boot(std::string(chunk, chunk + 128)));
        }
        requests.push_back(boot("P" + sectors));
        requests.push_back(boot("C " + std::to_string(address) + " 33555200 1024\r\n"));
    }
    for (int offset = 0; offset < hex.imageLength; offset += 192)
        requests.push_back(boot("R " + std::to_string(offset) + " "
                                + std::to_string(std::min(192, hex.imageLength - offset)) + "\r\n"));
    const auto &stub = SimulatedBootLoader::kStartStub;
    for (const std::string &line :
         {"W 33555200 24\r\n"s, std::string(stub.begin(), stub.end()) + "A 1\r\n", "U 41975\r\n"s, "G 33555200 T\r\n"s})
        requests.push_back(boot(line));
    requests.push_back({1, 0x6D, 0, 1, 1, 0x55});
    requests.push_back({1, 0x6D, 0, 3, 0x55, 0xAA});
    return requests;
}

bool sameRequests(const Requests &sent, const Requests &expected)
{
    const auto differ = std::mismatch(sent.begin(), sent.end(), expected.begin(), expected.end());
    const bool same = differ.first == sent.end() && differ.second == expected.end();
    if (!same)
        qWarning("request %d of %d differs (expected %d)", int(differ.first - sent.begin()), int(sent.size()),
                 int(expected.size()));
    return same;
}

void compareResult(const UpdateResult &result, Kind kind, Icon icon, const QString &text)
{
    QCOMPARE(int(result.kind), int(kind));
    const UpdateOutcome box = moduleUpdateOutcome(result);
    QCOMPARE(box.icon, icon);
    QCOMPARE(box.title, QString("Tarnlow"));
    QCOMPARE(box.text, text);
}

// Sixteen modules that fit the firmware, the bank straight behind the engine.
struct Engine {
    Engine()
    {
        for (int module = 1; module <= ModuleBank::kMaxModules; ++module)
            bank.setModule(module, {kProductCode, 0x1000, false});
    }
    UpdateResult run(const HexImage &hex, int first, int last)
    {
        ModuleUpdateEngine engine({link, first, last}, {observer, observer, [](int) {}, nullptr});
        return engine.run(hex);
    }

    ModuleBank bank;
    BankLink link{bank};
    RecordingProgress observer;
};

}

class TestModuleUpdateEngine : public QObject
{
    Q_OBJECT

private slots:
    // Module 2 is the large-flash variant; each module is identified afresh.
    void twoModulesAreWrittenReadBackAndStartedInTurn()
    {
        Engine engine;
        engine.bank.setModule(1, {kProductCode, 0x1FFF, false});
        engine.bank.setModule(2, {kProductCode, 0x0000, true});
        const HexImage hex = firmwareOf(1100);
        const UpdateResult result = engine.run(hex, 1, 2);
        compareResult(result, Kind::Verified, Icon::Information,
                      "Burning firmware successful. Firmware of module 1-2 has been updated.");
        QVERIFY(result.rangeAfter == std::vector<After>(2, After::NewFirmware));
        Requests expected = moduleRequests(hex, 1, 15);
        const Requests second = moduleRequests(hex, 2, 63);
        expected.insert(expected.end(), second.begin(), second.end());
        QVERIFY(sameRequests(engine.link.requests, expected));
        QCOMPARE(engine.bank.registerReads(), (std::vector<int>{30000, 30100, 30001, 30101}));
        QCOMPARE(engine.observer.checksPassedCount, 1);
        QCOMPARE(engine.observer.rangeMaximum, 2 * 1100 + 1);
        QCOMPARE(engine.observer.labels,
                 QStringList({"Burning Firmware to module 1...", "Reading flash data on module 1 ...",
                              "Comparing data of module 1 ...", "Burning Firmware to module 2...",
                              "Reading flash data on module 2 ...", "Comparing data of module 2 ..."}));
    }

    void handshakeGivesUpAfterFifteenAttempts_data()
    {
        QTest::addColumn<bool>("lowerCase");
        QTest::newRow("never answers") << false;
        QTest::newRow("lower-case answer") << true;
    }
    void handshakeGivesUpAfterFifteenAttempts()
    {
        QFETCH(bool, lowerCase);
        Engine engine;
        ModuleFaults faults;
        faults.neverSynchronizes = !lowerCase;
        faults.answersLowerCase = lowerCase;
        engine.bank.setFaults(1, faults);
        const HexImage hex = firmwareOf(2048);
        const UpdateResult result = engine.run(hex, 1, 2);
        compareResult(result, Kind::Failed, Icon::Critical, kNotSynchronized);
        QVERIFY(result.rangeAfter == (std::vector<After>{After::InBootLoader, After::Untouched}));
        Requests expected = moduleRequests(hex, 1, 15);
        expected.resize(2);
        expected.insert(expected.end(), 15, boot("?"));
        QVERIFY(sameRequests(engine.link.requests, expected));
    }

    // A stop asked for while the modules were checked: no module is selected.
    void stopDuringTheChecksTouchesNoModule()
    {
        Engine engine;
        engine.observer.canceled = true;
        const UpdateResult result = engine.run(firmwareOf(2048), 16, 16);
        compareResult(result, Kind::Aborted, Icon::Information, "User cancel the operation.");
        QVERIFY(result.rangeAfter == std::vector<After>{After::Untouched});
        QCOMPARE(engine.bank.registerReads(), (std::vector<int>{31500, 31501}));
        QVERIFY(engine.link.requests.empty());
    }

    // Where the read goes unanswered the file holds 0xFF, as the read-back buffer starts: only the
    // missing answer tells that those bytes were never verified. The reads go on; no start.
    void unansweredReadIsNoSuccess()
    {
        Engine engine;
        HexImage hex = firmwareOf(700);
        std::fill(hex.image.begin() + 384, hex.image.begin() + 576, 0xFF);
        engine.link.unanswered = "R 384 192\r\n";
        compareResult(engine.run(hex, 4, 4), Kind::Failed, Icon::Critical,
                      "Burning Firmware to module 4 Failed. Comparison is NOT equal. Content is "
                      "different between local file and flash.");
        Requests expected = moduleRequests(hex, 4, 15);
        expected.resize(expected.size() - 6);
        QVERIFY(sameRequests(engine.link.requests, expected));
    }

    // Replies come in two TCP segments, the first shorter than the six bytes that announce the
    // length. Neither a reply that leaves after the response time-out nor a second answer to one
    // request is taken for the next reply.
    void passThroughOverModbusTcp()
    {
        ModuleBank bank(1);
        bank.setReplySplit(4);
        SimulatedCouplerSetup setup;
        setup.address = "127.0.0.41";
        setup.modules = &bank;
        setup.modbusPort = 0;
        SimulatedCoupler coupler(setup);
        std::string failure;
        QVERIFY2(coupler.start(failure), failure.c_str());
        const std::unique_ptr<ModbusTcpLink> link = ModbusTcpLink::connect(setup.address, coupler.modbusPort());
        QVERIFY(link);
        link->setResponseTimeout(0, 100000);
        ModuleTransport transport(*link, [](int) {});
        const auto answer = [&] {
            return std::string(reinterpret_cast<const char *>(transport.answer()), size_t(transport.answerLength()));
        };
        transport.selectModule(1);
        QCOMPARE(answer(), std::string("\xAA"));   // the select's echo
        ModuleFaults late;
        late.replyDelayMs = 250;
        bank.setFaults(1, late);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!transport.exchangeBootText("?"));
        QVERIFY(timer.elapsed() >= 90);
        QCOMPARE(answer(), std::string("\xAA"));   // kept: no reply came
        QTest::qSleep(400);
        ModuleFaults twice;
        twice.answerAgainAfterMs = 20;
        bank.setFaults(1, twice);
        QVERIFY(transport.exchangeBootText("?"));
        QCOMPARE(answer(), std::string("Synchronized\r\n"));
        QTest::qSleep(100);
        bank.setFaults(1, {});
        QVERIFY(transport.exchangeBootText("Synchronized\r\n"));
        QCOMPARE(answer(), std::string("OK\r\n"));
    }

    void impossibleLengthsAreRefused()
    {
        const std::vector<std::pair<int, int>> lengthAndFrame = {{3, 9}, {40, 46}, {254, 260}, {255, -1}, {256, -1}, {2, -1}};
        for (const auto &[length, frame] : lengthAndFrame) {
            const uint8_t header[6] = {0, 0, 0, 0, uint8_t(length >> 8), uint8_t(length)};
            QCOMPARE(Mbap::frameLengthFromHeader(header), frame);
        }
    }
};

TARNLOW_TEST_MAIN(TestModuleUpdateEngine)
#include "test_module_update_engine.moc"
