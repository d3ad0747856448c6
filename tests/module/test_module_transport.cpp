// The pass-through transport on a real libmodbus context against a scripted TCP peer: the bytes
// of each request frame, the pauses of the select sequence, and the MBAP-length framing of
// replies that arrive in pieces.
#include "core/fixed_waits.h"
#include "modbus/modbus_tcp_link.h"
#include "module/module_transport.h"
#include "modbus/mbap_frame.h"
#include "module/pass_through_frame.h"
#include "tests/module/scripted_modbus_server.h"
#include "tests/support/test_main.h"

#include <QElapsedTimer>

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

Bytes passThroughReply(const std::string &answer)
{
    Bytes pdu(answer.begin(), answer.end());
    pdu.insert(pdu.begin(), {0x6D, 0x00, 0x02, static_cast<uint8_t>(answer.size())});
    return Mbap::frame(0, 1, pdu);
}

long long millisecondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

}

class TestModuleTransport : public QObject
{
    Q_OBJECT

private slots:
    void selectSendsTwoTargetControlsWithTheirPauses()
    {
        ScriptedModbusServer server("127.0.0.41", {{{0, 0, 0, 0, 0, 6, 1, 0x6D, 0, 1, 0, 0xAA}},
                                                        {{0, 0, 0, 0, 0, 6, 1, 0x6D, 0, 1, 5, 0xAA}}});
        QVERIFY(server.listening());
        Clock::time_point selectDone;
        {
            auto link = ModbusTcpLink::connect("127.0.0.41", server.port());
            QVERIFY(link);
            ModuleTransport transport(*link, FixedWaits().blocking());
            transport.selectModule(5);
            selectDone = Clock::now();
        }
        const auto requests = server.requestsAfterClose();
        QCOMPARE(requests.size(), size_t(2));
        QCOMPARE(requests[0], (Bytes{0, 0, 0, 0, 0, 6, 1, 0x6D, 0x00, 0x01, 0x00, 0xAA}));
        QCOMPARE(requests[1], (Bytes{0, 0, 0, 0, 0, 6, 1, 0x6D, 0x00, 0x01, 0x05, 0xAA}));
        QVERIFY(millisecondsBetween(server.replyTimes[0], server.requestTimes[1]) >= 95);
        QVERIFY(millisecondsBetween(server.replyTimes[1], selectDone) >= 990);
    }

    void replyIsFramedByItsMbapLengthAcrossSegments()
    {
        const Bytes long40 = passThroughReply(std::string("0\r\n") + std::string(32, 'x'));
        QCOMPARE(long40[5], uint8_t(40));
        QCOMPARE(long40.size(), size_t(46));
        const Bytes second = passThroughReply("OK\r\n");
        ScriptedModbusServer server(
            "127.0.0.42",
            {{Bytes(long40.begin(), long40.begin() + 4), Bytes(long40.begin() + 4, long40.begin() + 9),
              Bytes(long40.begin() + 9, long40.end())},
             {second}});
        QVERIFY(server.listening());
        auto link = ModbusTcpLink::connect("127.0.0.42", server.port());
        QVERIFY(link);
        ModuleTransport transport(*link, FixedWaits().blocking());
        QVERIFY(transport.exchangeBootText("?"));
        QCOMPARE(transport.answerLength(), 35);
        QCOMPARE(std::string(reinterpret_cast<const char *>(transport.answer()), 35),
                 std::string("0\r\n") + std::string(32, 'x'));
        QVERIFY(transport.exchangeBootText("J\r\n"));
        QCOMPARE(std::string(reinterpret_cast<const char *>(transport.answer()), 4), std::string("OK\r\n"));
        QCOMPARE(transport.answerLength(), 4);
        link.reset();
        const auto requests = server.requestsAfterClose();
        QCOMPARE(requests[0], (Bytes{0, 0, 0, 0, 0, 6, 1, 0x6D, 0x00, 0x02, 0x01, '?'}));
    }

    void silentCouplerCostsOneResponseTimeoutAndKeepsTheOldAnswer()
    {
        ScriptedModbusServer server("127.0.0.43", {{passThroughReply("Synchronized\r\n")}});
        QVERIFY(server.listening());
        auto link = ModbusTcpLink::connect("127.0.0.43", server.port());
        QVERIFY(link);
        link->setResponseTimeout(0, 500000);
        ModuleTransport transport(*link, FixedWaits().blocking());
        QVERIFY(transport.exchangeBootText("?"));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!transport.exchangeBootText("?"));
        QVERIFY(timer.elapsed() >= 450 && timer.elapsed() < 1500);
        QCOMPARE(std::string(reinterpret_cast<const char *>(transport.answer()), 12),
                 std::string("Synchronized"));
    }

    void replyThatCameTooLateIsNotTakenForTheNextOne()
    {
        ScriptedModbusServer server("127.0.0.45",
                                    {{passThroughReply("Synchronized\r\n")}, {passThroughReply("0\r\n")}},
                                    {250, 0});
        QVERIFY(server.listening());
        auto link = ModbusTcpLink::connect("127.0.0.45", server.port());
        QVERIFY(link);
        link->setResponseTimeout(0, 100000);
        ModuleTransport transport(*link, FixedWaits().blocking());
        QVERIFY(!transport.exchangeBootText("?"));
        QTest::qSleep(300);
        QVERIFY(transport.exchangeBootText("A 0\r\n"));
        QCOMPARE(transport.answerLength(), 3);
        QCOMPARE(std::string(reinterpret_cast<const char *>(transport.answer()), 3), std::string("0\r\n"));
    }

    void impossibleLengthsAreRefused()
    {
        uint8_t header[6] = {0, 0, 0, 0, 0, 40};
        QCOMPARE(Mbap::frameLengthFromHeader(header), 46);
        header[5] = 254;
        QCOMPARE(Mbap::frameLengthFromHeader(header), 260);
        header[5] = 255;
        QCOMPARE(Mbap::frameLengthFromHeader(header), -1);
        header[4] = 1;
        header[5] = 0;
        QCOMPARE(Mbap::frameLengthFromHeader(header), -1);
        header[4] = 0;
        header[5] = 2;
        QCOMPARE(Mbap::frameLengthFromHeader(header), -1);
    }

    void connectFailureGivesNoLink()
    {
        int closedPort = 0;
        {
            ScriptedModbusServer gone("127.0.0.44", {});
            closedPort = gone.port();
        }
        QVERIFY(!ModbusTcpLink::connect("127.0.0.44", closedPort));
        QVERIFY(!ModbusTcpLink::connect("...", closedPort));
    }
};

TARNLOW_TEST_MAIN(TestModuleTransport)
#include "test_module_transport.moc"
