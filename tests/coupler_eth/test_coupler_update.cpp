// The Ethernet coupler page end to end: Update pressed as a user would against a simulated
// coupler on loopback, with the message box answered and the datagrams, the flash and the
// settings inspected afterwards.
#include "tests/coupler_eth/coupler_page_bench.h"
#include "tests/support/free_port.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QIntValidator>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QUdpSocket>

using namespace CouplerTest;
using Command = CouplerCommand;
using Kind = CouplerReplyFault::Kind;
using Setup = SimulatedCouplerSetup;
using Faults = CouplerBootFaults;

Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(Faults)

namespace {

const QString kSuccess = "Burning Firmware Successful";
const QString kUpdated = "Firmware of Remote IO has beed updated.";
const QByteArray kWholeRun = "AA00020202020605010101010400";   // 1000 bytes: four pages each way
const QByteArray kOnePageRun = "AA00020605010400";
const Bytes kImage = randomImage(1000, 1000);

uint16_t listenPort()
{
    static const uint16_t port = FreePort::udp();
    return port;
}


// The reply bytes as the exception text carries them: "[i]=" and each byte as one character.
QString dumpOf(const Bytes &reply)
{
    QString text;
    for (uint8_t byte : reply)
        text += QString("[i]=") + QChar(byte);
    return text;
}

Bytes echoOf(uint8_t command, uint16_t page)
{
    return {'V', 'q', '-', 'C', 'P', 'L', command, uint8_t(listenPort() >> 8), uint8_t(listenPort()),
            uint8_t(page >> 8), uint8_t(page)};
}

// A coupler on `address`, changed as `change` says; its Modbus port is found when the row runs.
template <typename Change = void (*)(Setup &)>
Setup at(const char *address, Change change = [](Setup &) {})
{
    Setup setup;
    setup.address = address;
    change(setup);
    return setup;
}

template <typename Change>
Faults faults(Change change)
{
    Faults faults;
    change(faults);
    return faults;
}

Faults replyFault(Kind kind, Command command, int nth)
{
    return faults([&](Faults &f) { f.replies = {{kind, command, nth, 200}}; });
}

// A text as expected, or, when the expectation ends in '*', one that starts with what precedes it.
void expectText(const QString &actual, const QString &expected)
{
    if (expected.endsWith('*'))
        QVERIFY2(actual.startsWith(expected.chopped(1)), qPrintable(actual));
    else
        QCOMPARE(actual, expected);
}

void addColumns()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<Faults>("faults");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<QString>("typed");        // the address typed, when not the coupler's own
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("detail");       // the box's informative text
    QTest::addColumn<QByteArray>("requests");  // the command codes the coupler saw
    QTest::addColumn<QString>("reads");        // the coupler's registers read, in order
}

// A row of the update tables: the coupler, how it misbehaves, the file, the listen port, and
// the address typed when not the coupler's own.
QTestData &row(const char *name, const Setup &setup, const Faults &faults = {}, const QString &firmware = "ETN_1000",
               int port = listenPort(), const QString &typed = {})
{
    return QTest::newRow(name) << setup << faults << port << firmware << typed;
}

// One update of the row's table, its waits divided by `waitDivisor`: one box, and the requests,
// flash, registers, dialog and settings it left behind. The requests the coupler saw go to `seen`.
void updateOnce(int waitDivisor, std::vector<SimulatedCouplerBootLoader::LoggedRequest> *seen = nullptr)
{
    QFETCH(Setup, setup);
    QFETCH(Faults, faults);
    QFETCH(int, port);
    QFETCH(QString, firmware);
    QFETCH(QString, typed);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QString, detail);
    setup.modbusPort = FreePort::tcp(setup.address.c_str());
    PageBench bench(setup, uint16_t(port), waitDivisor);
    bench.coupler.bootLoader().setFaults(faults);
    QVERIFY(bench.start());
    bench.choose(firmware, typed);
    MessageBoxRecorder recorder;
    QProgressDialog *dialog = nullptr;
    QString label;
    recorder.onBox([&](QMessageBox *) {
        if ((dialog = bench.page->findChild<QProgressDialog *>()))
            label = dialog->labelText();
    });
    bench.clickUpdate();

    QCOMPARE(recorder.count(), 1);
    // A success informs, a file that does not load warns, anything else is critical.
    QCOMPARE(recorder.last().icon, title == kSuccess ? QMessageBox::Information
                                   : title == "Load hex file error" ? QMessageBox::Warning : QMessageBox::Critical);
    QCOMPARE(recorder.last().title, title);
    expectText(recorder.last().text, text);
    // What the coupler runs now follows the box's detail on a line of its own.
    const QString informative = recorder.last().informative;
    const int stateAt = informative.lastIndexOf("The coupler ");
    const QString state = stateAt < 0 ? QString() : informative.mid(stateAt);
    expectText(stateAt < 0 ? informative : informative.left(qMax(0, stateAt - 1)), detail);
    if (title == kSuccess)
        QCOMPARE(state, QString("The coupler runs the new firmware."));
    else if (bench.commandSequence().isEmpty() && title.contains("matching error"))
        QCOMPARE(state, QString("The coupler was not touched: it runs the firmware it ran before."));
    else if (bench.commandSequence().contains(char(Command::WriteData))
             && !bench.commandSequence().contains(char(Command::RunUserMode)))
        QCOMPARE(state, QString("The coupler is in its boot loader, its firmware erased or incomplete: run the update "
                                "again."));
    else if (!bench.commandSequence().isEmpty())
        QVERIFY2(!state.isEmpty(), qPrintable(informative));
    QTEST(bench.commandSequence(), "requests");
    // Every RUN USER MODE found a sealed image and started it.
    QCOMPARE(size_t(bench.coupler.bootLoader().startCount()), bench.requestsOf(Command::RunUserMode).size());
    QStringList reads;
    for (int address : bench.coupler.registerReads())
        reads << QString::number(address);
    QTEST(reads.join(' '), "reads");
    // The run's dialog: room for every page written and read, closed at the end; its last phase on
    // success.
    if (dialog)
        QCOMPARE(dialog->maximum(), firmware == "ETN_1" ? 513 : 2 * 1024 + 1);
    QVERIFY(!dialog || !dialog->isVisible());
    if (title == kSuccess)
        QCOMPARE(label, QString("Comparing Data..."));
    if (title == kSuccess && faults.flipFlashBitAt < 0)
        QVERIFY(bench.flashHolds(firmware == "ETN_1" ? randomImage(1, 1) : kImage));
    QVERIFY(bench.page->findChild<QPushButton *>("button_update")->isEnabled());

    // A refused listen port stores nothing; otherwise the address, port and file are stored.
    QSettings settings;
    const bool portRefused = title == "Change listen port" || title == "Port binding failed";
    QCOMPARE(settings.value("Coupler/Settings/ip").toString(),
             portRefused ? QString() : typed.isEmpty() ? QString::fromStdString(setup.address) : typed);
    if (!portRefused) {
        QCOMPARE(settings.value("Coupler/Settings/port").toString(), QString::number(port));
        QCOMPARE(settings.value("Coupler/Settings/filename").toString(), firmware);
    }

    // Every request names the port it was sent from (the listen port, or the one the system
    // chose for an empty field) and reaches port 10275 until a reply came from 10276; the pages go
    // in order from 0x0100; Step 2 carries the four bytes of the Step 1 reply unchanged.
    const auto requests = bench.coupler.bootLoader().requests();
    if (seen)
        *seen = requests;
    for (size_t i = 0; i < requests.size(); ++i) {
        QCOMPARE(uint16_t(requests[i].bytes[7] << 8 | requests[i].bytes[8]), requests[i].fromPort);
        QCOMPARE(requests[i].fromPort, port ? uint16_t(port) : requests[0].fromPort);
        QCOMPARE(requests[i].arrivedAtPort, uint16_t(faults.answerFromOtherPort && i >= 2 ? 10276 : 10275));
    }
    for (Command command : {Command::WriteData, Command::ReadData}) {
        const auto pages = bench.requestsOf(command);
        for (size_t i = 0; i < pages.size(); ++i)
            QCOMPARE(pages[i].bytes[9] << 8 | pages[i].bytes[10], int(256 + i));
    }
    const auto step1 = bench.requestsOf(Command::WriteChecksumStep1);
    for (const auto &step2 : bench.requestsOf(Command::WriteChecksumStep2))
        QCOMPARE(Bytes(step2.bytes.begin() + 9, step2.bytes.end()),
                 Bytes(step1.at(0).reply.begin() + 7, step1.at(0).reply.end()));
}

}

class TestCouplerUpdate : public QObject
{
    Q_OBJECT

    QUdpSocket m_otherProgram;   // holds a port, as another program on the PC would

private slots:
    void initTestCase()
    {
        QVERIFY(m_otherProgram.bind(QHostAddress(QHostAddress::AnyIPv4), 0));
        writeFirmware("ETN_1000", kImage);
        writeFirmware("ETN_1", randomImage(1, 1));
        writeFirmware("ETN_V2", kImage, "0702, V2, X=FALSE");
        writeFirmware("ETN_V3", kImage, "0702, V3, X=FALSE");
        writeFirmware("ETN_0703", kImage, "0703, V1, X=FALSE");
        SandboxFiles::write("Coupler Firmware/BROKEN.HEX", QByteArray(100, 'x'));
    }

    void init() { QSettings().clear(); }

    void multiPageImageWithTheRealWaits_data()
    {
        addColumns();
        row("deaf for most of each 5 s wait", at("127.0.0.61", [](Setup &s) { s.restartMs = 4000; }))
            << kSuccess << kUpdated << "" << kWholeRun << "3006 3004";
    }

    // 1.5 s before the first datagram, 5 s after ENTER BOOT MODE and after RUN USER MODE. (The
    // coupler logs a datagram when its thread gets to it, a few ms late on a busy machine.)
    void multiPageImageWithTheRealWaits()
    {
        QElapsedTimer clock;
        clock.start();
        std::vector<SimulatedCouplerBootLoader::LoggedRequest> requests;
        updateOnce(1, &requests);
        QVERIFY(clock.elapsed() >= 1500 + 5000 + 5000);
        QCOMPARE(requests.size(), size_t(14));
        for (int after : {0, 12})
            QVERIFY(requests[after + 1].received - requests[after].received >= std::chrono::milliseconds(4900));
    }

    void oneUpdateEndsInOneBox_data()
    {
        addColumns();
        const QString both = "3006 3004";
        const QByteArray none;
        row("no Modbus server (in its boot loader): no checks",
            at("127.0.0.65", [](Setup &s) { s.modbus = Setup::Modbus::Absent; }))
            << kSuccess << kUpdated << "" << kWholeRun << "";
        row("replies late within the window", at("127.0.0.68"), faults([](Faults &f) {
            f.replies = {{Kind::Delay, Command::WriteData, 0, 80}, {Kind::Delay, Command::ReadData, 0, 80}};
        })) << kSuccess << kUpdated << "" << kWholeRun << both;
        row("replies from another port redirect the requests", at("127.0.0.73"),
            faults([](Faults &f) { f.answerFromOtherPort = true; })) << kSuccess << kUpdated << "" << kWholeRun << both;
        row("empty port field, one-byte image", at("127.0.0.82"), {}, "ETN_1", 0)
            << kSuccess << kUpdated << "" << kOnePageRun << both;
        row("flipped bit beyond the image is not compared", at("127.0.0.70"),
            faults([](Faults &f) { f.flipFlashBitAt = 1010; })) << kSuccess << kUpdated << "" << kWholeRun << both;

        const auto misfit = [](const char *name, uint16_t version, const char *firmware) -> QTestData & {
            return row(name, at("127.0.0.63", [=](Setup &s) { s.hardwareVersion = version; }), {}, firmware)
                << "Firmware matching error" << "Firmware does not match with the coupler";
        };
        misfit("V1 on 0x2000", 0x2000, "ETN_1000")
            << "Register 3006 reads 0x2000; the file is for hardware version 1 (0x1000)." << none << "3006";
        misfit("V2 on 0x1FFF", 0x1FFF, "ETN_V2")
            << "Register 3006 reads 0x1FFF; the file is for hardware version 2 (0x2000)." << none << "3006";
        misfit("V3 on 0x3000", 0x3000, "ETN_V3")
            << "Register 3006 reads 0x3000; the file is for hardware version 3 (0x3000)." << none << "3006";
        const QString product = "Product Code matching error";
        const QString productText = "Product Code does not match with the coupler";
        row("other product code", at("127.0.0.64"), {}, "ETN_0703") << product << productText
            << "Register 3004 reads 0x0702; the file is for product code 0x0703." << none << both;
        // The reads time out and count as 0: version 1 hardware passes, the product code does not.
        row("Modbus server never answers", at("127.0.0.66", [](Setup &s) { s.modbus = Setup::Modbus::Silent; }))
            << product << productText << "Register 3004 could not be read: Connection timed out." << none << "";

        const QString format = "Format error exception";
        const QString noReply = "No reply from 127.0.0.67:10275 within 150 ms.";
        row("missing CONFIRM BOOT MODE reply", at("127.0.0.67"), replyFault(Kind::Drop, Command::ConfirmBootMode, 1))
            << format << "In function: confirm_boot_mode_command" << noReply << QByteArray("AA00") << both;
        row("WRITE DATA echoes another page", at("127.0.0.67"), replyFault(Kind::WrongPageEcho, Command::WriteData, 1))
            << format << "In function: WRITE DATA page:256, bytes_received:11, data:" + dumpOf(echoOf(2, 257))
            << QString::asprintf("Reply from 127.0.0.67:10275, 11 bytes: 56 71 2D 43 50 4C 02 %02X %02X 01 01",
                                 listenPort() >> 8, listenPort() & 0xFF) << QByteArray("AA0002") << both;
        row("WRITE DATA reply beyond the window", at("127.0.0.67"), replyFault(Kind::Delay, Command::WriteData, 3))
            << format << "In function: WRITE DATA page:258, bytes_received:-1, data:" << noReply
            << QByteArray("AA00020202") << both;
        row("missing Step 1 reply", at("127.0.0.67"), replyFault(Kind::Drop, Command::WriteChecksumStep1, 1))
            << format << "In function: WRITE CHECKSUM Step 1, bytes_received:-1, data:" << noReply
            << QByteArray("AA000202020206") << both;
        row("Step 2 echoes another checksum", at("127.0.0.69"), faults([](Faults &f) { f.corruptStep2Echo = true; }))
            << format << "In function: WRITE CHECKSUM Step 2, bytes_received:11, data:*"
            << "Reply from 127.0.0.69:10275, 11 bytes: 56 71 2D 43 50 4C 05 *" << QByteArray("AA00020202020605")
            << both;
        Bytes longRead = echoOf(1, 258);   // the page, then one byte too many
        longRead.insert(longRead.end(), kImage.begin() + 512, kImage.begin() + 768);
        longRead.push_back(0);
        row("READ DATA one byte long", at("127.0.0.67"), replyFault(Kind::WrongLength, Command::ReadData, 3))
            << format << "In function: READ DATA page:258, bytes_received:268, data:" + dumpOf(longRead)
            << "Reply from 127.0.0.67:10275, 268 bytes: 56 71 2D 43 50 4C 01 *" << QByteArray("AA00020202020605010101")
            << both;
        row("flipped flash bit", at("127.0.0.70"), faults([](Faults &f) { f.flipFlashBitAt = 600; }))
            << "Burning Firmware Failed" << "Flash data is different from file content"
            << QString::asprintf("First difference at image offset 0x00258 (page 258): file 0x%02X, flash 0x%02X.",
                                 kImage[600], kImage[600] ^ 1)
            << QByteArray("AA0002020202060501010101") << both;
        row("no confirmation after the start", at("127.0.0.72"), replyFault(Kind::Drop, Command::ConfirmBootMode, 2))
            << format << "In function: confirm_boot_mode_command" << "No reply from 127.0.0.72:10275 within 150 ms."
            << kWholeRun << both;

        // An empty field makes the address 255.255.255.255; with broadcast off the send fails and
        // no coupler on the network is touched.
        row("empty address field", at("127.0.0.77"), {}, "ETN_1000", listenPort(), "127.0..77")
            << "Sending failed exception" << "function:ENTER BOOT MODE,bytes_seneded=-1,error=13"
            << "Permission denied\n255.255.255.255 is no coupler's address: fill in all four IP fields." << none << "";
        row("the device's own port", at("127.0.0.74"), {}, "ETN_1000", 10275)
            << "Change listen port" << "Port 10275 is using for UDP broadcast" << "" << none << "";
        const int held = m_otherProgram.localPort();
        row("port held by another program", at("127.0.0.74"), {}, "ETN_1000", held) << "Port binding failed"
            << QString("Port %1 is probably occupied is using for UDP broadcast").arg(held)
            << "The bound address is already in use" << none << "";
        row("file that does not load", at("127.0.0.79"), {}, "BROKEN")
            << "Load hex file error" << "File format error." << "" << none << "";
    }

    void oneUpdateEndsInOneBox() { updateOnce(50); }

    // Abort pressed once the dialog shows `value`: between pages written the run still seals what
    // it wrote and reads nothing back; it starts nothing and ends without a box.
    void abortEndsTheRunSilently_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<QByteArray>("requests");
        QTest::newRow("after the second page written") << 256 << QByteArray("AA0002020605");
        QTest::newRow("after the second page read") << 1280 << QByteArray("AA000202020206050101");
    }

    void abortEndsTheRunSilently()
    {
        QFETCH(int, value);
        PageBench bench(couplerAt("127.0.0.71"), listenPort());
        // Pages slow enough for a person's press to fall between them.
        bench.coupler.bootLoader().setFaults(faults([](Faults &f) {
            f.replies = {{Kind::Delay, Command::WriteData, 0, 10}, {Kind::Delay, Command::ReadData, 0, 10}};
        }));
        QVERIFY(bench.start());
        bench.choose("ETN_1000");
        MessageBoxRecorder recorder;
        QTimer pressAbort;
        connect(&pressAbort, &QTimer::timeout, this, [&] {
            QProgressDialog *dialog = bench.page->findChild<QProgressDialog *>();
            if (dialog && dialog->isVisible() && dialog->value() >= value && !dialog->wasCanceled())
                for (QPushButton *button : dialog->findChildren<QPushButton *>())
                    if (button->text() == "Abort")
                        button->click();
        });
        pressAbort.start(1);
        bench.clickUpdate();
        QCOMPARE(recorder.count(), 0);
        QTEST(bench.commandSequence(), "requests");
        QCOMPARE(bench.page->findChild<QProgressDialog *>()->labelText(), QString("Reading Flash for comparing..."));
        QVERIFY(bench.page->findChild<QPushButton *>("button_update")->isEnabled());
    }

    // A click while the first update waits before its run is ignored; the next one, after its
    // box, binds the listen port again and updates again.
    void clicksDuringAnUpdateAreIgnoredAndTheNextRebinds()
    {
        PageBench bench(couplerAt("127.0.0.76"), listenPort(), 5);   // 300 ms before the run starts
        QVERIFY(bench.start());
        bench.choose("ETN_1");
        MessageBoxRecorder recorder;
        QTimer::singleShot(100, this, [&] { bench.clickUpdate(); });
        bench.clickUpdate();
        bench.clickUpdate();
        QCOMPARE(recorder.count(), 2);
        QCOMPARE(recorder.last().title, kSuccess);
        QCOMPARE(bench.commandSequence(), kOnePageRun + kOnePageRun);
        QCOMPARE(bench.coupler.bootLoader().startCount(), 2);
    }

    // What a technician finds on the page: the stored address, port and file where they fit, the
    // coupler's usual address, port 23456 and the first file listed where not; the listen port
    // locked; fields that take only what fits.
    void storedValuesAreRestored_data()
    {
        QTest::addColumn<QString>("stored");   // address, port and file
        QTest::addColumn<QString>("fields");   // the four address fields and the port
        QTest::addColumn<QString>("file");     // empty: the first file listed
        QTest::newRow("nothing stored") << "" << "192 168 0 212 23456" << "";
        QTest::newRow("as stored") << "10.20.30.40 4000 ETN_V2" << "10 20 30 40 4000" << "ETN_V2";
        QTest::newRow("octet over 255 is cut") << "ip=10.0.0.300 23456 ETN_V2" << "10 0 0 30 23456" << "ETN_V2";
        QTest::newRow("no address at all") << "coupler 70000 ETN_X" << "192 168 0 212 4464" << "";
        QTest::newRow("file name differs in case") << "1.2.3.4 abc etn_v2" << "1 2 3 4 0" << "";
    }

    void storedValuesAreRestored()
    {
        QFETCH(QString, stored);
        QFETCH(QString, file);
        const QStringList keys = {"Coupler/Settings/ip", "Coupler/Settings/port", "Coupler/Settings/filename"};
        const QStringList values = stored.split(' ', Qt::SkipEmptyParts);
        for (int i = 0; i < values.size(); ++i)
            QSettings().setValue(keys[i], values[i]);
        CouplerFirmwareWidget page(nullptr, TarnlowTest::environment());
        QStringList fields;
        for (const char *name : {"lineEdit_ip1", "lineEdit_ip2", "lineEdit_ip3", "lineEdit_ip4", "lineEdit_port"})
            fields << page.findChild<QLineEdit *>(name)->text();
        QTEST(fields.join(' '), "fields");
        QComboBox *files = page.findChild<QComboBox *>("comboBox_firmware_file");
        QCOMPARE(files->currentText(), file.isEmpty() ? files->itemText(0) : file);
        QLineEdit *port = page.findChild<QLineEdit *>("lineEdit_port");
        QVERIFY(!port->isEnabled());
        const auto *ipRule = qobject_cast<const QIntValidator *>(
            page.findChild<QLineEdit *>("lineEdit_ip3")->validator());
        QVERIFY(ipRule && ipRule->bottom() == 0 && ipRule->top() == 255);
        const auto *portRule = qobject_cast<const QIntValidator *>(port->validator());
        QVERIFY(portRule && portRule->bottom() == 1 && portRule->top() == 65535);
    }

    // The field opens after six releases on it, counted over every coupler page of the program,
    // and stays open; a port typed there is stored at the next Update even when that update fails.
    void portFieldUnlocksAfterEnoughClicksAndItsPortIsStored()
    {
        CouplerFirmwareWidget first(nullptr, TarnlowTest::environment());
        first.show();
        QLineEdit *port = first.findChild<QLineEdit *>("lineEdit_port");
        for (int release = 1; release <= 6; ++release) {
            QVERIFY(!port->isEnabled());
            QTest::mouseClick(port, Qt::LeftButton);
        }
        QVERIFY(port->isEnabled());
        CouplerFirmwareWidget second(nullptr, TarnlowTest::environment());
        second.show();
        port = second.findChild<QLineEdit *>("lineEdit_port");
        QVERIFY(!port->isEnabled());
        QTest::mouseClick(port, Qt::LeftButton);
        QVERIFY(port->isEnabled());

        port->setText(QString::number(listenPort()));
        QComboBox *files = second.findChild<QComboBox *>("comboBox_firmware_file");
        files->setCurrentIndex(files->findText("BROKEN"));
        MessageBoxRecorder recorder;
        QTest::mouseClick(second.findChild<QPushButton *>("button_update"), Qt::LeftButton);
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(QSettings().value("Coupler/Settings/port").toString(), QString::number(listenPort()));
    }
};

TARNLOW_TEST_MAIN(TestCouplerUpdate)
#include "test_coupler_update.moc"
