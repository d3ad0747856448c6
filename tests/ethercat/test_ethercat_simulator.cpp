// The simulated coupler as a slave controller and a device of the standard see it, driven with
// raw frames and datagrams: which frames it serves, passes or destroys, the registers a master's
// scan reads, the EEPROM interface and the SII content, and its answers to SDO, FoE and other
// mailbox requests, byte for byte.
#include "ethercat/coe_sdo.h"
#include "sim/ethercat_coupler.h"
#include "tests/support/test_main.h"

using namespace Ethercat;

namespace {

Bytes hex(const char *text)
{
    const QByteArray bytes = QByteArray::fromHex(text);
    return Bytes(bytes.begin(), bytes.end());
}

QByteArray hexOf(const Bytes &bytes, std::size_t length)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(std::min(length, bytes.size()))).toHex();
}

// One APWR of the station address 0x1001, as a frame of the given EtherCAT header, padded to the
// Ethernet minimum with 0xEE and with an IRQ field of 0x1234.
Bytes stationAddressFrame(const char *ethercatHeader)
{
    Bytes frame = hex("ffffffffffff" "010101010101" "88a4");
    const Bytes rest = hex(ethercatHeader);
    frame.insert(frame.end(), rest.begin(), rest.end());
    const Bytes datagram = hex("0203" "0000" "1000" "0200" "3412" "0110" "0000");
    frame.insert(frame.end(), datagram.begin(), datagram.end());
    frame.resize(ethernetMinimumFrame, 0xEE);
    return frame;
}

// The frame as a slave marks it on its way: bit 1 of the source address set.
Bytes marked(Bytes frame)
{
    frame[6] |= 0x02;
    return frame;
}

// Raw datagrams, one frame each, to the coupler at auto-increment address 0.
class Segment
{
public:
    explicit Segment(SimEthercat::Coupler &coupler) : m_coupler(coupler) {}

    Datagram request(Command command, uint16_t position, uint16_t offset, const Bytes &data)
    {
        const auto answered = m_coupler.answer(encodeFrame({command, 1, position, offset, data, 0}));
        const auto datagram = answered ? decodeFrame(*answered) : std::nullopt;
        return datagram ? *datagram : Datagram{};
    }
    Bytes read(uint16_t offset, std::size_t length)
    {
        return request(Command::APRD, 0, offset, Bytes(length, 0)).data;
    }
    uint16_t write(uint16_t offset, const Bytes &data)
    {
        return request(Command::APWR, 0, offset, data).workingCounter;
    }
    uint16_t word(uint16_t offset) { return le16(read(offset, 2).data()); }

    // The two words at `address` through the EEPROM interface, and the status it leaves.
    uint16_t readEeprom(uint16_t address, uint32_t &words)
    {
        write(Register::eepromAddress, {uint8_t(address), uint8_t(address >> 8), 0, 0});
        write(Register::eepromControl, {0x00, 0x01});
        words = le32(read(Register::eepromData, 4).data());
        return word(Register::eepromControl);
    }

    // The sync managers set to `area` as a mailbox, then the state requested.
    void enter(uint16_t state, const SimEthercat::MailboxArea &area)
    {
        write(0x0806, {0x00});
        write(0x080E, {0x00});
        write(0x0800, {uint8_t(area.receiveStart), uint8_t(area.receiveStart >> 8), uint8_t(area.receiveSize),
                       uint8_t(area.receiveSize >> 8), 0x26, 0x00, 0x01, 0x00});
        write(0x0808, {uint8_t(area.sendStart), uint8_t(area.sendStart >> 8), uint8_t(area.sendSize),
                       uint8_t(area.sendSize >> 8), 0x22, 0x00, 0x01, 0x00});
        write(Register::alControl, {uint8_t(state), 0x00});
    }

    // A mailbox message written whole into the write mailbox, and what the read mailbox then
    // holds (nothing when it stays empty).
    Bytes exchange(const SimEthercat::MailboxArea &area, Bytes message)
    {
        message.resize(area.receiveSize, 0);
        write(area.receiveStart, message);
        const Datagram reply = request(Command::APRD, 0, area.sendStart, Bytes(area.sendSize, 0));
        return reply.workingCounter == 1 ? reply.data : Bytes{};
    }

private:
    SimEthercat::Coupler &m_coupler;
};

// The coupler in PRE-OP with its standard mailbox, answering one message.
Bytes answerInPreOp(const Bytes &message)
{
    SimEthercat::Coupler coupler(128);
    Segment segment(coupler);
    segment.enter(PRE_OP, SimEthercat::standardMailbox);
    return segment.exchange(SimEthercat::standardMailbox, message);
}

}

class TestEthercatSimulator : public QObject
{
    Q_OBJECT

private slots:
    // Only frames of type 1 are processed; any other EtherCAT frame, and one of another protocol
    // once DL control forwards those, comes back as it went, marked in its source address, and
    // changes nothing in the slave. A processed frame keeps every bit the slave does not serve
    // (IRQ field, padding, VLAN tag) and whatever length its header claims.
    void whatPassesTheSlave()
    {
        SimEthercat::Coupler coupler(128);
        Segment segment(coupler);
        const Bytes typeFive = stationAddressFrame("0e50");
        QCOMPARE(coupler.answer(typeFive).value_or(Bytes{}), marked(typeFive));
        QCOMPARE(segment.word(Register::stationAddress), uint16_t(0));

        Bytes ipv4 = typeFive;
        ipv4[12] = 0x08;
        ipv4[13] = 0x00;
        QVERIFY(!coupler.answer(ipv4));
        QCOMPARE(segment.write(0x0100, {0x00}), uint16_t(1));   // forwarding rule: forward
        QCOMPARE(coupler.answer(ipv4).value_or(Bytes{}), marked(ipv4));

        const Bytes wrongLength = stationAddressFrame("0010");
        Bytes served = marked(wrongLength);
        served[18] = 0x01;   // ADP counted up
        served[28] = 0x01;   // working counter
        QCOMPARE(coupler.answer(wrongLength).value_or(Bytes{}), served);
        QCOMPARE(segment.word(Register::stationAddress), uint16_t(0x1001));

        Bytes tagged = stationAddressFrame("0e10");
        const Bytes tag = hex("8100" "0005");
        tagged.insert(tagged.begin() + 12, tag.begin(), tag.end());
        tagged[30] = 0x02;   // station 0x1002
        Bytes servedTagged = marked(tagged);
        servedTagged[22] = 0x01;
        servedTagged[32] = 0x01;
        QCOMPARE(coupler.answer(tagged).value_or(Bytes{}), servedTagged);
        QCOMPARE(segment.word(Register::stationAddress), uint16_t(0x1002));
    }

    // The processing unit destroys a frame shorter than the Ethernet minimum, an EtherCAT frame
    // whose datagrams run past its end (their writes are not taken), and at power-up a frame of
    // another protocol; it counts each in its error counter, which a write clears.
    void framesTheSlaveDestroys_data()
    {
        QTest::addColumn<QByteArray>("frame");
        const Bytes good = stationAddressFrame("0e10");
        QByteArray frame(reinterpret_cast<const char *>(good.data()), int(good.size()));
        QTest::newRow("shorter than 60 bytes") << frame.left(59);
        QByteArray runsPast = frame;
        runsPast[22] = char(0x40);   // 64 bytes of data announced
        QTest::newRow("datagram runs past the end") << runsPast;
        QByteArray announcesMore = frame;
        announcesMore[23] = char(0x80);   // another datagram follows: the padding, far too long
        QTest::newRow("next datagram runs past the end") << announcesMore;
        QByteArray arp = frame;
        arp[12] = char(0x08);
        arp[13] = char(0x06);
        QTest::newRow("another protocol") << arp;
    }
    void framesTheSlaveDestroys()
    {
        QFETCH(QByteArray, frame);
        SimEthercat::Coupler coupler(128);
        Segment segment(coupler);
        QVERIFY(!coupler.answer(Bytes(frame.begin(), frame.end())));
        QCOMPARE(segment.word(Register::stationAddress), uint16_t(0));
        QCOMPARE(segment.read(0x030C, 1), Bytes{0x01});
        QCOMPARE(segment.write(0x030C, {0x55}), uint16_t(1));
        QCOMPARE(segment.read(0x030C, 1), Bytes{0x00});
    }

    // A broadcast read ORs the register into what the datagram brings; FRMW reads at the station
    // addressed and writes everywhere else; logical commands find no FMMU mapped.
    void datagramCommands()
    {
        SimEthercat::Coupler coupler(128);
        Segment segment(coupler);
        const Datagram broadcast = segment.request(Command::BRD, 0, Register::type, {0x80, 0x40});
        QCOMPARE(broadcast.data, (Bytes{0x91, 0x40}));
        QCOMPARE(broadcast.position, uint16_t(1));
        segment.write(Register::stationAddress, {0x01, 0x10});
        const Datagram atStation = segment.request(Command(14), 0x1001, 0x0F80, {0xAA});
        QCOMPARE((std::vector<int>{atStation.data[0], atStation.workingCounter}), (std::vector<int>{0x00, 1}));
        const Datagram elsewhere = segment.request(Command(14), 0x1002, 0x0F80, {0xAA});
        QCOMPARE(int(elsewhere.workingCounter), 1);
        QCOMPARE(segment.read(0x0F80, 1), Bytes{0xAA});
        QCOMPARE(int(segment.request(Command(12), 0, 0, Bytes(4, 0)).workingCounter), 0);
    }

    // What a master's scan reads from the slave alone on its segment at power-up.
    void registersAScanReads_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<QByteArray>("expected");
        // Type 0x11, revision 0, build 1, 3 FMMUs, 4 sync managers, 8 KiB RAM, ports 0 and 1 MII
        // (port descriptor 0x0F), no optional features.
        QTest::newRow("identity and features") << 0x0000 << QByteArray("1100" "0100" "03" "04" "08" "0f" "0000");
        QTest::newRow("station address and alias") << 0x0010 << QByteArray("0000" "0000");
        // Forwarding rule set (other protocols destroyed), loops in auto mode, RX FIFO size 7.
        QTest::newRow("DL control") << 0x0100 << QByteArray("01000700");
        // 0x5613: PDI operational (0), PDI watchdog reloaded (1), link on port 0 (4), loop port 0
        // open (8 clear) with communication (9), loops of ports 1, 2, 3 closed (10, 12, 14).
        QTest::newRow("DL status") << 0x0110 << QByteArray("1356");
        QTest::newRow("AL status and code") << 0x0130 << QByteArray("0100" "0000" "0000");
        // SPI as process data interface, no optional ESC configuration.
        QTest::newRow("PDI control and ESC configuration") << 0x0140 << QByteArray("05" "00");
        // The EEPROM with EtherCAT, idle, 4-byte reads, no error.
        QTest::newRow("EEPROM interface") << 0x0500 << QByteArray("0000" "0000" "00000000" "0000000000000000");
    }
    void registersAScanReads()
    {
        QFETCH(int, offset);
        QFETCH(QByteArray, expected);
        SimEthercat::Coupler coupler(128);
        Segment segment(coupler);
        QCOMPARE(hexOf(segment.read(uint16_t(offset), std::size_t(expected.size() / 2)), 64), expected);
    }

    // A write to a register the controller keeps to itself counts but changes nothing; of EEPROM
    // configuration and control only the bits the master owns change.
    void writesToReadOnlyRegisters_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("length");
        QTest::newRow("identity and features") << 0x0000 << 10;
        QTest::newRow("station alias") << 0x0012 << 2;
        QTest::newRow("DL status") << 0x0110 << 2;
        QTest::newRow("AL status and code") << 0x0130 << 6;
        QTest::newRow("PDI control and ESC configuration") << 0x0140 << 2;
        QTest::newRow("EEPROM PDI access state") << 0x0501 << 1;
        QTest::newRow("sync manager 1 status") << 0x080D << 1;
        QTest::newRow("sync manager 1 PDI control") << 0x080F << 1;
        QTest::newRow("sync manager 4, which there is not") << 0x0820 << 8;
        QTest::newRow("FMMU 3, which there is not") << 0x0630 << 16;
    }
    void writesToReadOnlyRegisters()
    {
        QFETCH(int, offset);
        QFETCH(int, length);
        SimEthercat::Coupler coupler(128);
        Segment segment(coupler);
        const Bytes before = segment.read(uint16_t(offset), std::size_t(length));
        QCOMPARE(int(segment.write(uint16_t(offset), Bytes(std::size_t(length), 0xA5))), 1);
        QCOMPARE(segment.read(uint16_t(offset), std::size_t(length)), before);
    }

    // The EEPROM goes to the PDI when offered and comes back when forced; reads wrap at its end; a
    // write needs the write enable bit; a reload of a configuration area whose checksum no longer
    // fits takes the PDI out of operation.
    void theEepromInterface()
    {
        SimEthercat::Coupler coupler(128);
        Segment segment(coupler);
        uint32_t words = 0;
        QCOMPARE(segment.write(Register::eepromControl, {0xFF, 0xFF}), uint16_t(1));
        QCOMPARE(segment.word(Register::eepromControl), uint16_t(0x2000));   // command 7: invalid
        QCOMPARE(segment.readEeprom(0x0008, words), uint16_t(0));
        QCOMPARE(words, SimEthercat::simulatedVendorId);
        QCOMPARE(segment.readEeprom(0x0088, words), uint16_t(0));            // 2 Kbit: 0x88 is 0x08
        QCOMPARE(words, SimEthercat::simulatedVendorId);

        segment.write(Register::eepromConfig, {0x01});
        QCOMPARE(segment.read(0x0501, 1), Bytes{0x01});
        QCOMPARE(segment.readEeprom(0x0008, words), uint16_t(0x2000));
        segment.write(Register::eepromConfig, {0x03});
        QCOMPARE(segment.read(0x0501, 1), Bytes{0x00});

        segment.write(Register::eepromAddress, {0x00, 0x00, 0x00, 0x00});
        segment.write(Register::eepromData, {0x08, 0x00});
        segment.write(Register::eepromControl, {0x00, 0x02});
        QCOMPARE(segment.word(Register::eepromControl), uint16_t(0x4000));
        segment.write(Register::eepromControl, {0x01, 0x02});
        QCOMPARE(segment.word(Register::eepromControl), uint16_t(0));
        QCOMPARE(segment.readEeprom(0x0000, words), uint16_t(0));
        QCOMPARE(words, 0x00000008u);
        segment.write(Register::eepromControl, {0x00, 0x04});
        QCOMPARE(segment.word(Register::eepromControl), uint16_t(0x0800));
        QCOMPARE(segment.word(0x0110), uint16_t(0x5610));   // PDI neither operational nor watched
    }

    // The whole EEPROM as a master reads it: the configuration area with its CRC (0x48 over
    // 05 00 and twelve zero bytes), identity, mailboxes, protocols CoE and FoE, a 2 Kbit size and
    // version 1, then Strings, General (name string 1, CoE with SDO, FoE, the mailbox data link
    // layer, ports 0 and 1 MII), the two mailbox sync managers and the end, erased after it.
    void theSiiContent()
    {
        SimEthercat::Coupler coupler(256);
        Segment segment(coupler);
        QByteArray sii;
        for (uint16_t address = 0; address < 0x80; address += 2) {
            uint32_t words = 0;
            QCOMPARE(segment.readEeprom(address, words), uint16_t(0));
            sii += QByteArray::number(words & 0xFF, 16).rightJustified(2, '0')
                 + QByteArray::number((words >> 8) & 0xFF, 16).rightJustified(2, '0')
                 + QByteArray::number((words >> 16) & 0xFF, 16).rightJustified(2, '0')
                 + QByteArray::number(words >> 24, 16).rightJustified(2, '0');
        }
        const QByteArray name = QByteArray("Tarnlow simulated EtherCAT coupler").toHex();
        const QByteArray expected = QByteArray("0500" "000000000000000000000000" "4800")
            + "217a00e0" "02070000" "07000100" "01000000" "0000000000000000"
            + "0018" "0001" "0020" "0001" "0010" "8000" "8010" "8000" "0c00" + QByteArray(33 * 4, '0')
            + "0100" "0100"
            + "0a00" "1200" "01" "22" + name
            + "1e00" "1000" "00000001" "00" "01" "01" "00" "00" "00" "00" "04" "0000" "00" "00" "1100" "0000"
            + QByteArray(12 * 2, '0')
            + "2900" "0800" "0010" "8000" "26" "00" "01" "01" "8010" "8000" "22" "00" "01" "02"
            + QByteArray(16 * 4, 'f');
        QCOMPARE(sii, expected);
    }

    // The SDO server's answers, each to a coupler in PRE-OP: the entry uploaded, the download
    // confirmed, the abort code the request earns, or nothing.
    void sdoAnswers_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        const QByteArray sdo = "0a00" "0000" "00" "13" "0020";     // 10 bytes, CoE, counter 1
        const QByteArray answer = "0a00" "0000" "00" "13";
        QTest::newRow("upload 1018:01") << sdo + "40" "1810" "01" "00000000" << answer + "0030" "43" "1810" "01" "217a00e0";
        QTest::newRow("upload 1018:00") << sdo + "40" "1810" "00" "00000000" << answer + "0030" "4f" "1810" "00" "04000000";
        QTest::newRow("upload 1000:00") << sdo + "40" "0010" "00" "00000000" << answer + "0030" "43" "0010" "00" "00000000";
        QTest::newRow("boot request") << sdo + "23" "0050" "03" "152c7a4e" << answer + "0030" "60" "0050" "03" "00000000";
        QTest::newRow("boot request, normal download")
            << QByteArray("0e00" "0000" "00" "13" "0020") + "21" "0050" "03" "04000000" "152c7a4e"
            << answer + "0030" "60" "0050" "03" "00000000";
        QTest::newRow("upload of an object not there") << sdo + "40" "001c" "00" "00000000"
                                                        << answer + "0020" "80" "001c" "00" "00000206";
        QTest::newRow("download to an object not there") << sdo + "2f" "001c" "00" "01000000"
                                                          << answer + "0020" "80" "001c" "00" "00000206";
        QTest::newRow("upload of a subindex not there") << sdo + "40" "1810" "07" "00000000"
                                                         << answer + "0020" "80" "1810" "07" "11000906";
        QTest::newRow("download to a subindex not there") << sdo + "23" "0050" "01" "00000000"
                                                           << answer + "0020" "80" "0050" "01" "11000906";
        QTest::newRow("upload of a write-only entry") << sdo + "40" "0050" "03" "00000000"
                                                       << answer + "0020" "80" "0050" "03" "01000106";
        QTest::newRow("download to a read-only entry") << sdo + "23" "1810" "01" "00000000"
                                                        << answer + "0020" "80" "1810" "01" "02000106";
        QTest::newRow("download too short") << sdo + "2b" "0050" "03" "152c0000"
                                             << answer + "0020" "80" "0050" "03" "13000706";
        QTest::newRow("download too long")
            << QByteArray("1200" "0000" "00" "13" "0020") + "21" "0050" "03" "08000000" "152c7a4e152c7a4e"
            << answer + "0020" "80" "0050" "03" "12000706";
        QTest::newRow("complete access") << sdo + "50" "1810" "00" "00000000"
                                          << answer + "0020" "80" "1810" "00" "00000106";
        QTest::newRow("segment with no transfer") << sdo + "60" "1810" "01" "00000000"
                                                   << answer + "0020" "80" "1810" "01" "01000405";
        QTest::newRow("block download") << sdo + "c0" "1810" "01" "00000000"
                                         << answer + "0020" "80" "1810" "01" "01000405";
        QTest::newRow("abort from the master") << sdo + "80" "1810" "01" "00000000" << QByteArray();
    }
    void sdoAnswers()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QCOMPARE(hexOf(answerInPreOp(hex(request.constData())), Coe::sdoMessageSize), reply);
    }

    // Mailbox messages the slave cannot serve: a mailbox error for a protocol it does not have, a
    // CoE service other than SDO, a CoE message too short; CoE outside PRE-OP is refused for the
    // device state; FoE outside BOOT is for BOOT only; in BOOT no file can be read; a master's
    // FoE error gets no answer.
    void mailboxRequestsTheSlaveRefuses()
    {
        QCOMPARE(hexOf(answerInPreOp(hex("0400" "0000" "00" "12" "00000000")), 10),
                 QByteArray("0400" "0000" "00" "10" "0100" "0200"));
        QCOMPARE(hexOf(answerInPreOp(hex("0a00" "0000" "00" "13" "0080" "01" "0000" "00000000")), 10),
                 QByteArray("0400" "0000" "00" "10" "0100" "0400"));
        QCOMPARE(hexOf(answerInPreOp(hex("0100" "0000" "00" "13" "00")), 10),
                 QByteArray("0400" "0000" "00" "10" "0100" "0600"));
        QCOMPARE(hexOf(answerInPreOp(hex("0b00" "0000" "00" "14" "02" "00" "00000000" "612e62696e")), 12),
                 QByteArray("0600" "0000" "00" "14" "05" "00" "08800000"));

        SimEthercat::Coupler initial(128);
        Segment init(initial);
        init.enter(INIT, SimEthercat::standardMailbox);
        QCOMPARE(hexOf(init.exchange(SimEthercat::standardMailbox, hex("0a00" "0000" "00" "13" "0020" "40" "1810" "01" "00000000")), 16),
                 QByteArray("0a00" "0000" "00" "13" "0020" "80" "1810" "01" "22000008"));

        SimEthercat::Coupler booted(128, true);
        Segment boot(booted);
        const SimEthercat::MailboxArea bootstrap = booted.bootstrapMailbox();
        QCOMPARE(hexOf(boot.exchange(bootstrap, hex("0b00" "0000" "00" "14" "01" "00" "00000000" "612e62696e")), 12),
                 QByteArray("0600" "0000" "00" "14" "05" "00" "01800000"));
        QCOMPARE(boot.exchange(bootstrap, hex("0600" "0000" "00" "24" "05" "00" "01800000")), Bytes{});
    }
};

TARNLOW_TEST_MAIN(TestEthercatSimulator)
#include "test_ethercat_simulator.moc"
