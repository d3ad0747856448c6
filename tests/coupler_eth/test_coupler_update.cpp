// The Ethernet coupler page end to end: Update pressed as a user would against a simulated
// coupler on loopback, with the message box answered and the datagrams, the flash and the
// settings inspected afterwards.
#include "modbus/modbus_tcp_link.h"
#include "tests/coupler_eth/coupler_page_bench.h"
#include "tests/support/free_port.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QUdpSocket>

using namespace CouplerTest;
using Command = CouplerCommand;
using Kind = CouplerReplyFault::Kind;

namespace {

// The page listens on a port the system found free when the test started.
uint16_t listenPort()
{
    static const uint16_t port = FreePort::udp();
    return port;
}

const Bytes &image1000()
{
    static const Bytes image = randomImage(1000, 1000);
    return image;
}

// The reply bytes as the exception text carries them: "[i]=" and each byte as one character.
QString dumpOf(const Bytes &reply)
{
    QString text;
    for (uint8_t byte : reply)
        text += QString("[i]=") + QChar(byte);
    return text;
}

Bytes echoOf(uint8_t command, uint16_t port, uint16_t page)
{
    return {'V', 'q', '-', 'C', 'P', 'L', command, uint8_t(port >> 8), uint8_t(port), uint8_t(page >> 8),
            uint8_t(page)};
}

// The boxes one update showed, in order.
struct Boxes {
    QList<RecordedBox> all;
    int count() const { return all.size(); }
    RecordedBox last() const { return all.isEmpty() ? RecordedBox{} : all.last(); }
};

// Starts the coupler misbehaving as `faults` says, picks the firmware and presses Update.
Boxes updateOnce(PageBench &bench, const QString &firmware, const CouplerBootFaults &faults = {})
{
    bench.coupler.bootLoader().setFaults(faults);
    if (!bench.start())
        return {};
    bench.choose(firmware);
    MessageBoxRecorder recorder;
    bench.clickUpdate();
    return {recorder.boxes()};
}

CouplerBootFaults replyFault(Kind kind, Command command, int nth, int delayMs = 0)
{
    CouplerBootFaults faults;
    faults.replies.push_back({kind, command, nth, delayMs});
    return faults;
}

template <typename Seen>
void expectOneBox(const Seen &seen, QMessageBox::Icon icon, const QString &title, const QString &text)
{
    QCOMPARE(seen.count(), 1);
    QCOMPARE(seen.last().icon, icon);
    QCOMPARE(seen.last().title, title);
    QCOMPARE(seen.last().text, text);
}

void expectIdle(PageBench &bench)
{
    QVERIFY(bench.page->findChild<QPushButton *>("button_update")->isEnabled());
    QProgressDialog *dialog = bench.page->findChild<QProgressDialog *>();
    QVERIFY(!dialog || !dialog->isVisible());
}

}

class TestCouplerUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        writeFirmware("ETN_1000", image1000());
        writeFirmware("ETN_1", randomImage(1, 1));
        writeFirmware("ETN_V2", image1000(), "0702, V2, X=FALSE");
        writeFirmware("ETN_V3", image1000(), "0702, V3, X=FALSE");
        writeFirmware("ETN_0703", image1000(), "0703, V1, X=FALSE");
    }

    void init()
    {
        QSettings().clear();
    }

    void multiPageImageWithTheRealWaits()
    {
        SimulatedCouplerSetup setup = couplerAt("127.0.0.61");
        setup.restartMs = 4000;   // deaf for most of each 5 s wait
        PageBench bench(setup, listenPort(), 1);
        QVERIFY(bench.start());
        bench.choose("ETN_1000");
        MessageBoxRecorder recorder;
        QSize dialogSize;
        int dialogMaximum = 0;
        recorder.onBox([&](QMessageBox *) {
            if (QProgressDialog *dialog = bench.page->findChild<QProgressDialog *>()) {
                dialogSize = dialog->size();
                dialogMaximum = dialog->maximum();
            }
        });
        QElapsedTimer clock;
        clock.start();
        bench.clickUpdate();

        expectOneBox(recorder, QMessageBox::Information, "Burning Firmware Successful",
                     "Firmware of Remote IO has beed updated.");
        QVERIFY(bench.flashHolds(image1000()));
        QCOMPARE(bench.coupler.bootLoader().startCount(), 1);
        QCOMPARE(dialogSize, QSize(400, 100));
        QCOMPARE(dialogMaximum, 2 * 1024 + 1);
        QCOMPARE(bench.commandSequence(),
                 (std::vector<uint8_t>{0xAA, 0x00, 0x02, 0x02, 0x02, 0x02, 0x06, 0x05, 0x01, 0x01, 0x01,
                                       0x01, 0x04, 0x00}));
        const auto requests = bench.coupler.bootLoader().requests();
        for (const auto &request : requests) {
            QCOMPARE(request.bytes[7], uint8_t(listenPort() >> 8));   // the listen port, high byte first
            QCOMPARE(request.bytes[8], uint8_t(listenPort()));
            QCOMPARE(request.fromPort, listenPort());
        }
        const auto writes = bench.requestsOf(Command::WriteData);
        QCOMPARE(Bytes(writes[0].bytes.begin() + 9, writes[0].bytes.begin() + 11), (Bytes{0x01, 0x00}));
        QCOMPARE(Bytes(writes[3].bytes.begin() + 9, writes[3].bytes.begin() + 11), (Bytes{0x01, 0x03}));
        // 1.5 s before the first datagram, 5 s after ENTER BOOT MODE and after RUN USER MODE.
        const auto ms = [](auto from, auto to) {
            return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
        };
        // (The coupler logs a datagram when its thread gets to it, a few ms late on a busy machine.)
        QVERIFY(clock.elapsed() >= 1500 + 5000 + 5000);
        QVERIFY(ms(requests[0].received, requests[1].received) >= 4900);
        QVERIFY(ms(requests[12].received, requests[13].received) >= 4900);
        QCOMPARE(bench.coupler.registerReads(), (std::vector<int>{3006, 3004}));
        QSettings settings;
        QCOMPARE(settings.value("Coupler/Settings/ip").toString(), QString("127.0.0.61"));
        QCOMPARE(settings.value("Coupler/Settings/port").toString(), QString::number(listenPort()));
        QCOMPARE(settings.value("Coupler/Settings/filename").toString(), QString("ETN_1000"));
        expectIdle(bench);
    }

    void oneByteImageIsOnePageEachWay()
    {
        PageBench bench(couplerAt("127.0.0.62"), listenPort());
        QVERIFY(bench.start());
        bench.choose("ETN_1");
        MessageBoxRecorder recorder;
        int dialogMaximum = 0;
        recorder.onBox([&](QMessageBox *) { dialogMaximum = bench.page->findChild<QProgressDialog *>()->maximum(); });
        bench.clickUpdate();
        QCOMPARE(recorder.last().title, QString("Burning Firmware Successful"));
        QCOMPARE(dialogMaximum, 513);
        QCOMPARE(bench.requestsOf(Command::WriteData).size(), size_t(1));
        QCOMPARE(bench.requestsOf(Command::ReadData).size(), size_t(1));
        QVERIFY(bench.flashHolds(randomImage(1, 1)));
    }

    void firmwareThatDoesNotFitTheHardwareIsRefused_data()
    {
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<int>("versionRegister");
        QTest::addColumn<QString>("detail");
        QTest::newRow("V1 on 0x2000") << "ETN_1000" << 0x2000
                                      << "Register 3006 reads 0x2000; the file is for hardware version 1 (0x1000).";
        QTest::newRow("V2 on 0x1FFF") << "ETN_V2" << 0x1FFF
                                      << "Register 3006 reads 0x1FFF; the file is for hardware version 2 (0x2000).";
        QTest::newRow("V3 on 0x3000") << "ETN_V3" << 0x3000
                                      << "Register 3006 reads 0x3000; the file is for hardware version 3 (0x3000).";
    }

    void firmwareThatDoesNotFitTheHardwareIsRefused()
    {
        QFETCH(QString, firmware);
        QFETCH(int, versionRegister);
        QFETCH(QString, detail);
        SimulatedCouplerSetup setup = couplerAt("127.0.0.63");
        setup.hardwareVersion = uint16_t(versionRegister);
        PageBench bench(setup, listenPort());
        const Boxes seen = updateOnce(bench, firmware);
        expectOneBox(seen, QMessageBox::Critical, "Firmware matching error",
                     "Firmware does not match with the coupler");
        QCOMPARE(seen.last().informative, detail);
        QVERIFY(bench.coupler.bootLoader().requests().empty());
        QCOMPARE(QSettings().value("Coupler/Settings/filename").toString(), firmware);
        expectIdle(bench);
    }

    void otherProductCodeIsRefused()
    {
        PageBench bench(couplerAt("127.0.0.64"), listenPort());
        const Boxes seen = updateOnce(bench, "ETN_0703");
        expectOneBox(seen, QMessageBox::Critical, "Product Code matching error",
                     "Product Code does not match with the coupler");
        QCOMPARE(seen.last().informative,
                 QString("Register 3004 reads 0x0702; the file is for product code 0x0703."));
        QVERIFY(bench.coupler.bootLoader().requests().empty());
    }

    // A coupler already in its boot loader (after a failed update) has no Modbus server: the
    // checks are skipped and the update goes ahead; the started firmware answers Modbus again.
    void couplerInItsBootLoaderIsUpdatedWithoutTheChecks()
    {
        PageBench bench(couplerAt("127.0.0.65"), listenPort());
        bench.coupler.bootLoader().enterBootLoader();
        const Boxes seen = updateOnce(bench, "ETN_1000");
        expectOneBox(seen, QMessageBox::Information, "Burning Firmware Successful",
                     "Firmware of Remote IO has beed updated.");
        QVERIFY(bench.flashHolds(image1000()));
        QVERIFY(bench.coupler.registerReads().empty());
        QVERIFY(ModbusTcpLink::connect("127.0.0.65", bench.coupler.modbusPort()));
    }

    // The reads time out and count as 0: version 1 hardware passes, the product code does not.
    void modbusServerThatNeverAnswersNamesTheRegister()
    {
        SimulatedCouplerSetup setup = couplerAt("127.0.0.66");
        setup.modbus = SimulatedCouplerSetup::Modbus::Silent;
        PageBench bench(setup, listenPort());
        const Boxes seen = updateOnce(bench, "ETN_1000");
        expectOneBox(seen, QMessageBox::Critical, "Product Code matching error",
                     "Product Code does not match with the coupler");
        QCOMPARE(seen.last().informative, QString("Register 3004 could not be read: Connection timed out."));
        QVERIFY(bench.coupler.bootLoader().requests().empty());
    }

    void protocolFaultsEndInOneFormatErrorBox_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("nth");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<bool>("wholeText");
        const QString noReply = "No reply from 127.0.0.67:10275 within 150 ms.";
        QTest::newRow("missing WRITE DATA reply")
            << int(Kind::Drop) << int(Command::WriteData) << 2
            << "In function: WRITE DATA page:257, bytes_received:-1, data:" << noReply << true;
        QTest::newRow("WRITE DATA echoes another page")
            << int(Kind::WrongPageEcho) << int(Command::WriteData) << 1
            << "In function: WRITE DATA page:256, bytes_received:11, data:" + dumpOf(echoOf(2, listenPort(), 257))
            << QString::asprintf("Reply from 127.0.0.67:10275, 11 bytes: 56 71 2D 43 50 4C 02 %02X %02X 01 01",
                                 listenPort() >> 8, listenPort() & 0xFF)
            << true;
        QTest::newRow("READ DATA one byte long")
            << int(Kind::WrongLength) << int(Command::ReadData) << 3
            << "In function: READ DATA page:258, bytes_received:268, data:" + dumpOf(echoOf(1, listenPort(), 258))
            << "" << false;
        QTest::newRow("missing Step 1 reply")
            << int(Kind::Drop) << int(Command::WriteChecksumStep1) << 1
            << "In function: WRITE CHECKSUM Step 1, bytes_received:-1, data:" << noReply << true;
        QTest::newRow("missing CONFIRM BOOT MODE reply")
            << int(Kind::Drop) << int(Command::ConfirmBootMode) << 1
            << "In function: confirm_boot_mode_command" << noReply << true;
        QTest::newRow("WRITE DATA reply beyond the receive window")
            << int(Kind::Delay) << int(Command::WriteData) << 3
            << "In function: WRITE DATA page:258, bytes_received:-1, data:" << noReply << true;
    }

    void protocolFaultsEndInOneFormatErrorBox()
    {
        QFETCH(int, kind);
        QFETCH(int, command);
        QFETCH(int, nth);
        QFETCH(QString, text);
        QFETCH(QString, detail);
        QFETCH(bool, wholeText);
        PageBench bench(couplerAt("127.0.0.67"), listenPort());
        const Boxes seen = updateOnce(bench, "ETN_1000", replyFault(Kind(kind), Command(command), nth, 200));
        QCOMPARE(seen.count(), 1);
        QCOMPARE(seen.last().icon, QMessageBox::Critical);
        QCOMPARE(seen.last().title, QString("Format error exception"));
        if (wholeText)
            QCOMPARE(seen.last().text, text);
        else
            QVERIFY2(seen.last().text.startsWith(text), qPrintable(seen.last().text));
        if (!detail.isEmpty())
            QCOMPARE(seen.last().informative, detail);
        QCOMPARE(bench.requestsOf(Command::RunUserMode).size(), size_t(0));
        QCOMPARE(bench.coupler.bootLoader().startCount(), 0);
        expectIdle(bench);
    }

    void repliesLateWithinTheWindowAreTaken()
    {
        PageBench bench(couplerAt("127.0.0.68"), listenPort());
        CouplerBootFaults faults;
        faults.replies.push_back({Kind::Delay, Command::WriteData, 0, 80});
        faults.replies.push_back({Kind::Delay, Command::ReadData, 0, 80});
        const Boxes seen = updateOnce(bench, "ETN_1000", faults);
        QCOMPARE(seen.last().title, QString("Burning Firmware Successful"));
        QVERIFY(bench.flashHolds(image1000()));
    }

    void corruptStep2EchoStopsBeforeReading()
    {
        PageBench bench(couplerAt("127.0.0.69"), listenPort());
        CouplerBootFaults faults;
        faults.corruptStep2Echo = true;
        const Boxes seen = updateOnce(bench, "ETN_1000", faults);
        QCOMPARE(seen.count(), 1);
        QVERIFY(seen.last().text.startsWith("In function: WRITE CHECKSUM Step 2, bytes_received:11, data:"));
        // The Step 2 request carried the checksum of the Step 1 reply unchanged.
        const Bytes step1Reply = bench.requestsOf(Command::WriteChecksumStep1).at(0).reply;
        const Bytes step2 = bench.requestsOf(Command::WriteChecksumStep2).at(0).bytes;
        QCOMPARE(step1Reply.size(), size_t(11));
        QCOMPARE(step2.size(), size_t(13));
        QCOMPARE(Bytes(step2.begin() + 9, step2.end()), Bytes(step1Reply.begin() + 7, step1Reply.end()));
        QVERIFY(bench.requestsOf(Command::ReadData).empty());
    }

    void flippedFlashBitIsFoundByTheComparison()
    {
        PageBench bench(couplerAt("127.0.0.70"), listenPort());
        CouplerBootFaults faults;
        faults.flipFlashBitAt = 600;
        const Boxes seen = updateOnce(bench, "ETN_1000", faults);
        expectOneBox(seen, QMessageBox::Critical, "Burning Firmware Failed",
                     "Flash data is different from file content");
        QCOMPARE(seen.last().informative,
                 QString::asprintf("First difference at image offset 0x00258 (page 258): file 0x%02X, flash 0x%02X.",
                                   image1000()[600], image1000()[600] ^ 1));
        QVERIFY(bench.requestsOf(Command::RunUserMode).empty());
        expectIdle(bench);
    }

    void abortDuringWritingStillSealsAndEndsSilently()
    {
        PageBench bench(couplerAt("127.0.0.71"), listenPort());
        CouplerBootFaults faults;   // pages slow enough for a person's press to fall between them
        faults.replies.push_back({Kind::Delay, Command::WriteData, 0, 10});
        bench.coupler.bootLoader().setFaults(faults);
        QVERIFY(bench.start());
        bench.choose("ETN_1000");
        MessageBoxRecorder recorder;
        AbortAt abort(bench.page.get(), 256);
        bench.clickUpdate();
        QCOMPARE(recorder.count(), 0);
        QCOMPARE(bench.requestsOf(Command::WriteData).size(), size_t(2));
        QCOMPARE(bench.requestsOf(Command::WriteChecksumStep1).size(), size_t(1));
        QCOMPARE(bench.requestsOf(Command::WriteChecksumStep2).size(), size_t(1));
        QVERIFY(bench.requestsOf(Command::ReadData).empty());
        QVERIFY(bench.requestsOf(Command::RunUserMode).empty());
        expectIdle(bench);
    }

    void missingConfirmationAfterStartIsNoSuccess()
    {
        PageBench bench(couplerAt("127.0.0.72"), listenPort());
        const Boxes seen = updateOnce(bench, "ETN_1000", replyFault(Kind::Drop, Command::ConfirmBootMode, 2));
        expectOneBox(seen, QMessageBox::Critical, "Format error exception",
                     "In function: confirm_boot_mode_command");
        QCOMPARE(bench.coupler.bootLoader().startCount(), 1);
        expectIdle(bench);
    }

    void repliesFromAnotherPortRedirectTheRequests()
    {
        PageBench bench(couplerAt("127.0.0.73"), listenPort());
        CouplerBootFaults faults;
        faults.answerFromOtherPort = true;
        const Boxes seen = updateOnce(bench, "ETN_1000", faults);
        QCOMPARE(seen.last().title, QString("Burning Firmware Successful"));
        const auto requests = bench.coupler.bootLoader().requests();
        // ENTER BOOT MODE and CONFIRM BOOT MODE go to 10275; the answer comes from 10276.
        QCOMPARE(requests[0].arrivedAtPort, uint16_t(10275));
        QCOMPARE(requests[1].arrivedAtPort, uint16_t(10275));
        for (size_t i = 2; i < requests.size(); ++i)
            QCOMPARE(requests[i].arrivedAtPort, uint16_t(10276));
    }

    // An empty port field binds a port the system chooses; the requests name that port.
    void emptyPortFieldListensOnAPortTheSystemChooses()
    {
        PageBench bench(couplerAt("127.0.0.82"), 0);
        const Boxes seen = updateOnce(bench, "ETN_1");
        QCOMPARE(seen.last().title, QString("Burning Firmware Successful"));
        const auto requests = bench.coupler.bootLoader().requests();
        QVERIFY(requests.at(0).fromPort != 0);
        for (const auto &request : requests)
            QCOMPARE(uint16_t(request.bytes[7] << 8 | request.bytes[8]), request.fromPort);
        QCOMPARE(QSettings().value("Coupler/Settings/port").toString(), QString("0"));
    }

    void couplerThatAnswersTheSourcePortIsUpdatedToo()
    {
        SimulatedCouplerSetup setup = couplerAt("127.0.0.83");
        setup.replyPort = CouplerUdpServer::ReplyPort::SourcePort;
        PageBench bench(setup, listenPort());
        const Boxes seen = updateOnce(bench, "ETN_1000");
        QCOMPARE(seen.last().title, QString("Burning Firmware Successful"));
        QVERIFY(bench.flashHolds(image1000()));
    }

    void deviceListenPortIsRefused()
    {
        PageBench bench(couplerAt("127.0.0.74"), 10275);
        const Boxes seen = updateOnce(bench, "ETN_1000");
        expectOneBox(seen, QMessageBox::Critical, "Change listen port", "Port 10275 is using for UDP broadcast");
        QVERIFY(bench.coupler.bootLoader().requests().empty());
        QVERIFY(bench.coupler.registerReads().empty());
        QVERIFY(!QSettings().contains("Coupler/Settings/ip"));
    }

    void portHeldByAnotherProgramIsRefused()
    {
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress(QHostAddress::AnyIPv4), 0));
        PageBench bench(couplerAt("127.0.0.74"), holder.localPort());
        const Boxes seen = updateOnce(bench, "ETN_1000");
        expectOneBox(seen, QMessageBox::Critical, "Port binding failed",
                     QString("Port %1 is probably occupied is using for UDP broadcast").arg(holder.localPort()));
        QVERIFY(!seen.last().informative.isEmpty());
        QVERIFY(bench.coupler.bootLoader().requests().empty());
    }

    void twoUpdatesInARowRebindTheSamePort()
    {
        PageBench bench(couplerAt("127.0.0.75"), listenPort());
        QVERIFY(bench.start());
        bench.choose("ETN_1000");
        MessageBoxRecorder recorder;
        bench.clickUpdate();
        bench.clickUpdate();
        QCOMPARE(recorder.count(), 2);
        QCOMPARE(recorder.boxes()[0].title, QString("Burning Firmware Successful"));
        QCOMPARE(recorder.boxes()[1].title, QString("Burning Firmware Successful"));
        QCOMPARE(bench.coupler.bootLoader().startCount(), 2);
    }

    void secondClickWhilePreparingStartsNoSecondUpdate()
    {
        PageBench bench(couplerAt("127.0.0.76"), listenPort(), 5);   // 300 ms before the run starts
        QVERIFY(bench.start());
        bench.choose("ETN_1");
        MessageBoxRecorder recorder;
        QTimer::singleShot(100, this, [&] { bench.clickUpdate(); });
        bench.clickUpdate();
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(bench.requestsOf(Command::EnterBootMode).size(), size_t(1));
    }

    // An empty field makes the address 255.255.255.255; with broadcast off the send fails and
    // no coupler on the network is touched.
    void emptyAddressFieldSendsNothing()
    {
        PageBench bench(couplerAt("127.0.0.77"), listenPort());
        QVERIFY(bench.start());
        bench.choose("ETN_1000");
        bench.typeAddress("127", "0", "", "77");
        MessageBoxRecorder recorder;
        bench.clickUpdate();
        expectOneBox(recorder, QMessageBox::Critical, "Sending failed exception",
                     "function:ENTER BOOT MODE,bytes_seneded=-1,error=13");
        QVERIFY(recorder.last().informative.startsWith("Permission denied"));
        QVERIFY(recorder.last().informative.contains("255.255.255.255"));
        QVERIFY(bench.coupler.bootLoader().requests().empty());
        QCOMPARE(QSettings().value("Coupler/Settings/ip").toString(), QString("127.0..77"));
        expectIdle(bench);
    }

    void unreachableAddressGivesTheMissingReplyText()
    {
        PageBench bench(couplerAt("127.0.0.78"), listenPort());
        bench.choose("ETN_1000");   // nothing runs on 127.0.0.78
        MessageBoxRecorder recorder;
        bench.clickUpdate();
        expectOneBox(recorder, QMessageBox::Critical, "Format error exception",
                     "In function: confirm_boot_mode_command");
        QCOMPARE(recorder.last().informative, QString("No reply from 127.0.0.78:10275 within 150 ms."));
    }

    void fileThatDoesNotLoadSendsNothing()
    {
        SandboxFiles::write("Coupler Firmware/BROKEN.HEX", QByteArray(100, 'x'));
        PageBench bench(couplerAt("127.0.0.79"), listenPort());
        const Boxes seen = updateOnce(bench, "BROKEN");
        QCOMPARE(seen.count(), 1);
        QCOMPARE(seen.last().text, QString("File format error."));
        QVERIFY(bench.coupler.bootLoader().requests().empty());
        QVERIFY(bench.coupler.registerReads().empty());
        QCOMPARE(QSettings().value("Coupler/Settings/filename").toString(), QString("BROKEN"));
    }

};

TARNLOW_TEST_MAIN(TestCouplerUpdate)
#include "test_coupler_update.moc"
