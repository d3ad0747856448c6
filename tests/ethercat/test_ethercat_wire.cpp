// The EtherCAT frames, mailbox headers, CoE and FoE messages byte for byte, the rejection of
// malformed frames and replies, and the master's register, EEPROM and state primitives
// against the simulated coupler.
#include "ethercat/coe_sdo.h"
#include "ethercat/ethercat_master.h"
#include "ethercat/foe_messages.h"
#include "ethercat/sii_identity.h"
#include "sim/ethercat_inprocess_link.h"
#include "tests/support/test_main.h"

using namespace Ethercat;

namespace {

Bytes hex(const char *text)
{
    const QByteArray bytes = QByteArray::fromHex(text);
    return Bytes(bytes.begin(), bytes.end());
}

// One datagram: FPWR of two bytes to the AL control register of station 0x1001.
const char alControlFrame[] =
    "ffffffffffff" "010101010101" "88a4"   // Ethernet: broadcast, master, EtherType
    "0e10"                                 // 14 bytes of datagrams, type 1
    "0507" "0110" "2001" "0200" "0000"     // FPWR, index 7, ADP 0x1001, ADO 0x0120, 2 bytes
    "0200" "0000";                         // data, working counter

LinkOpener couplerSegment(SimEthercat::Coupler *coupler)
{
    return [coupler](const std::string &) { return std::unique_ptr<Link>(new SimEthercat::InProcessLink(coupler)); };
}

// A master on the simulated coupler, which it has found, configured and brought to PRE-OP.
std::unique_ptr<Master> masterInPreOp(SimEthercat::Coupler &coupler)
{
    auto master = std::make_unique<Master>(couplerSegment(&coupler));
    master->ec_init("sim");
    master->ec_config_init(false);
    master->ec_slave[1].state = PRE_OP;
    master->ec_writestate(1);
    return master;
}

}

class TestEthercatWire : public QObject
{
    Q_OBJECT

private slots:
    void aDatagramFrameByteForByte()
    {
        const Datagram datagram{Command::FPWR, 7, 0x1001, Register::alControl, {0x02, 0x00}, 0};
        Bytes expected = hex(alControlFrame);
        expected.resize(ethernetMinimumFrame, 0);
        QCOMPARE(encodeFrame(datagram), expected);
        const auto decoded = decodeFrame(expected);
        QVERIFY(decoded);
        QCOMPARE(encodeFrame(*decoded), expected);
    }

    void malformedFramesAreRejected_data()
    {
        QTest::addColumn<QByteArray>("frame");
        const QByteArray good = QByteArray::fromHex(alControlFrame);
        QByteArray wrongType = good; wrongType[13] = char(0xA5);
        QByteArray notDatagrams = good; notDatagrams[15] = char(0x40);
        QByteArray moreFollow = good; moreFollow[23] = char(0x80);
        QByteArray tooLong = good; tooLong[22] = char(0x40);
        QByteArray shortFrameLength = good; shortFrameLength[14] = char(0x0B);
        QTest::newRow("truncated") << good.left(27);
        QTest::newRow("other EtherType") << wrongType;
        QTest::newRow("not datagrams") << notDatagrams;
        QTest::newRow("second datagram announced") << moreFollow;
        QTest::newRow("data beyond the frame") << tooLong;
        QTest::newRow("frame length too short") << shortFrameLength;
        Bytes chain = encodeDatagrams({{Command::BRD, 1, 0, 0, Bytes(4, 0), 0}, {Command::BRD, 2, 0, 0, Bytes(4, 0), 0}});
        putLe16(chain, 14, uint16_t(0x1000 | 20));   // the frame header claims less than both need
        QTest::newRow("chain cut short") << QByteArray(reinterpret_cast<const char *>(chain.data()), int(chain.size()));
    }
    void malformedFramesAreRejected()
    {
        QFETCH(QByteArray, frame);
        QVERIFY(!decodeFrame(reinterpret_cast<const uint8_t *>(frame.constData()), std::size_t(frame.size())));
        QVERIFY(!decodeDatagrams(Bytes(frame.begin(), frame.end())));
    }

    // The boot request as an expedited download, the replies to it told apart, and the FoE
    // messages.
    void mailboxMessagesByteForByte()
    {
        const Bytes request = Coe::encodeExpeditedDownload({0x5000, 3, {0x15, 0x2C, 0x7A, 0x4E}}, 5);
        QCOMPARE(request, hex("0a00" "0000" "00" "53" "0020" "23" "0050" "03" "152c7a4e"));
        const auto decoded = Coe::decodeExpeditedDownload(request);
        QVERIFY(decoded);
        QCOMPARE(decoded->value, (Bytes{0x15, 0x2C, 0x7A, 0x4E}));
        QCOMPARE(Coe::encodeExpeditedDownload({0x2000, 1, {0xAA}}, 1)[8], uint8_t(0x2F));

        QCOMPARE(Coe::checkDownloadReply(Coe::encodeDownloadResponse(0x5000, 3, 1), 0x5000, 3).kind,
                 Coe::Reply::Confirmed);
        const auto aborted = Coe::checkDownloadReply(Coe::encodeAbort(0x5000, 3, 0x06020000, 1), 0x5000, 3);
        QCOMPARE(aborted.kind, Coe::Reply::Aborted);
        QCOMPARE(aborted.abortCode, 0x06020000u);
        QCOMPARE(Coe::checkDownloadReply(Coe::encodeDownloadResponse(0x5000, 2, 1), 0x5000, 3).kind,
                 Coe::Reply::Unexpected);
        QCOMPARE(Coe::checkDownloadReply(hex("0a00000000530030"), 0x5000, 3).kind, Coe::Reply::Unexpected);
        // The same bytes in a mailbox message of another protocol (FoE) are no SDO reply.
        Bytes foe = Coe::encodeDownloadResponse(0x5000, 3, 1);
        foe[5] = uint8_t((foe[5] & 0xF0) | mailboxTypeFoe);
        QCOMPARE(Coe::checkDownloadReply(foe, 0x5000, 3).kind, Coe::Reply::Unexpected);

        QCOMPARE(Foe::writeRequest("/a.bin", 0x6B2F1D94, 2),
                 hex("0c00" "0000" "00" "24" "02" "00" "941d2f6b" "2f612e62696e"));
        const uint8_t data[3] = {0xDE, 0xAD, 0x01};
        QCOMPARE(Foe::dataMessage(9, data, 3, 7), hex("0900000000740300" "09000000" "dead01"));
        const auto ack = Foe::decode(hex("0600000000140400" "03000000"));
        QVERIFY(ack);
        QCOMPARE(ack->opCode, uint8_t(Foe::Ack));
        QCOMPARE(ack->word, 3u);
        QVERIFY(!Foe::decode(hex("0600000000130400" "03000000")));    // a CoE message
        QVERIFY(!Foe::decode(hex("0900000000140400" "03000000")));    // longer than the buffer
        QVERIFY(!Foe::decode(hex("0400000000140400" "0300")));        // no room for the word
    }

    void theMasterFindsAndConfiguresTheCoupler()
    {
        SimEthercat::Coupler coupler(256);
        Master master(couplerSegment(&coupler));
        QCOMPARE(master.ec_init("sim"), 1);
        QCOMPARE(master.ec_config_init(false), 1);
        const Slave &slave = master.ec_slave[1];   // at 0x1001 in INIT with the standard mailbox
        QCOMPARE((std::vector<uint16_t>{slave.configadr, slave.state, slave.SM[0].StartAddr, slave.SM[1].StartAddr, slave.mbx_l}),
                 (std::vector<uint16_t>{0x1001, INIT, 0x1000, 0x1080, 128}));
        coupler.faults.eepromBusyPolls = 3;   // each read is waited out, not given up at once
        const uint32_t bootstrapReceive = master.ec_readeeprom(1, 0x0014, 20000);
        const uint32_t bootstrapSend = master.ec_readeeprom(1, 0x0016, 20000);
        QCOMPARE(bootstrapReceive, (256u << 16) | SimEthercat::bootstrapWriteMailbox);
        QCOMPARE(bootstrapSend, (256u << 16) | SimEthercat::bootstrapReadMailbox);

        // The CoE request is refused in INIT; in PRE-OP the boot request opens the way to BOOT.
        const uint8_t code[4] = {0x15, 0x2C, 0x7A, 0x4E};
        QCOMPARE(master.ec_SDOwrite(1, 0x5000, 3, false, 4, code, 100000), 0);
        master.ec_slave[1].state = PRE_OP;
        master.ec_writestate(1);
        QCOMPARE(master.ec_SDOwrite(1, 0x5001, 3, false, 4, code, 100000), 0);
        QVERIFY(master.ec_SDOwrite(1, 0x5000, 3, false, 4, code, 100000) > 0);
        master.ec_slave[1].state = BOOT;
        master.ec_writestate(1);
        QCOMPARE(master.ec_statecheck(1, BOOT, 5000), uint16_t(PRE_OP));   // still the standard mailbox
        QVERIFY(master.setMailbox(1, MailboxArea::fromSii(bootstrapReceive, bootstrapSend)));
        QCOMPARE(master.ec_slave[1].mbx_l, uint16_t(256));
        master.ec_slave[1].state = BOOT | 0x10;
        master.ec_writestate(1);
        QCOMPARE(master.ec_statecheck(1, BOOT, 5000), uint16_t(BOOT));

        // Registers by position and by station address; a station nobody has answers nothing.
        uint8_t station[2] = {};
        QCOMPARE(master.ec_APRD(0, Register::stationAddress, 2, station, 20000), 1);
        QCOMPARE(le16(station), uint16_t(0x1001));
        QCOMPARE(master.ec_FPRD(0x1002, Register::stationAddress, 2, station, 2000), 0);
        const uint8_t pattern[2] = {0xA5, 0x5A};
        uint8_t back[2] = {};
        QCOMPARE(master.ec_BWR(0x0F80, 2, pattern, 20000), 1);
        QCOMPARE(master.ec_BRD(0x0F80, 2, back, 20000), 1);
        QCOMPARE(le16(back), uint16_t(0x5AA5));
        master.ec_close();
        QCOMPARE(master.ec_slavecount, 0);
    }

    // A slave controller takes a sync manager's start, length and control only while it is
    // disabled: the master disables it in a datagram of its own, writes the record, enables it,
    // and leaves alone one that is right already. A write to an enabled one counts but changes
    // nothing, so the master takes the mailbox it reads back.
    void syncManagersAreRewrittenOnlyWhileDisabled()
    {
        SimEthercat::Coupler coupler(256);
        Master master(couplerSegment(&coupler));
        master.ec_init("sim");
        QCOMPARE(master.ec_config_init(false), 1);
        const auto writes = [&coupler] {
            QStringList list;
            for (const auto &write : coupler.record().syncManagerWrites)
                list << QString("%1:%2%3").arg(write.offset, 4, 16, QChar('0'))
                            .arg(QString(QByteArray(reinterpret_cast<const char *>(write.data.data()), int(write.data.size())).toHex()))
                            .arg(write.dropped ? " dropped" : "");
            return list;
        };
        QCOMPARE(writes(), QStringList({"0806:00", "0800:0010800026000000", "0806:01",
                                        "080e:00", "0808:8010800022000000", "080e:01"}));
        QVERIFY(master.setMailbox(1, SimEthercat::standardMailbox));
        QVERIFY(!master.setMailbox(1, MailboxArea{}));   // an SII without that mailbox
        QCOMPARE(writes().size(), 6);

        const Bytes moved = SyncManagerRecord{0x1800, 256, syncManagerFlagsMailboxWrite}.bytes();
        QCOMPARE(master.ec_FPWR(0x1001, Register::syncManager0, 8, moved.data(), 20000), 1);
        QCOMPARE(writes().last(), QString("0800:0018000126000100 dropped"));
        QVERIFY(master.readMailbox(1));
        QCOMPARE(master.ec_slave[1].mbx_wo, uint16_t(0x1000));

        QVERIFY(master.setMailbox(1, coupler.bootstrapMailbox()));
        const Slave &slave = master.ec_slave[1];
        QCOMPARE((std::vector<uint16_t>{slave.mbx_wo, slave.mbx_l, slave.mbx_ro, slave.mbx_rl}),
                 (std::vector<uint16_t>{0x1800, 256, 0x2000, 256}));
        QCOMPARE(slave.SM[1].SMflags, syncManagerFlagsMailboxRead);

        const uint8_t disabled = 0;
        QCOMPARE(master.ec_FPWR(0x1001, Register::syncManager1 + Register::syncManagerActivateOffset, 1, &disabled, 20000), 1);
        QVERIFY(!master.readMailbox(1));
        QCOMPARE(slave.mbx_rl, uint16_t(0));
    }

    // A second master that only looks: it finds the coupler another master brought to PRE-OP,
    // reads its identity from the SII by position, and leaves its station address and state.
    void detectionReadsTheIdentityAndChangesNothing()
    {
        SimEthercat::Coupler coupler(128);
        const std::unique_ptr<Master> owner = masterInPreOp(coupler);
        Master observer(couplerSegment(&coupler));
        observer.ec_init("sim");
        QCOMPARE(observer.ec_detect(), 1);
        QCOMPARE(observer.ec_slave[1].state, uint16_t(PRE_OP));
        QCOMPARE(observer.ec_slave[1].alStatusCode, uint16_t(0));
        const SiiIdentity identity = readSiiIdentity(observer, 1);
        QCOMPARE((std::vector<uint32_t>{identity.vendorId, identity.productCode, identity.revision}),
                 (std::vector<uint32_t>{0xE0007A21, 0x00000702, 0x00010007}));
        QCOMPARE(QString::fromStdString(identity.name), QString("Tarnlow simulated EtherCAT coupler"));
        uint8_t station[2] = {};
        QCOMPARE(observer.ec_APRD(0, Register::stationAddress, 2, station, 20000), 1);
        QCOMPARE(le16(station), uint16_t(0x1001));
        QCOMPARE(owner->ec_statecheck(1, PRE_OP, 5000), uint16_t(PRE_OP));
    }

    // A name index beyond the strings, a string cut short, categories that run off the end:
    // the identity words still come, the name is what can be read of it.
    void siiCategoriesThatDoNotAddUp()
    {
        std::vector<uint16_t> words(0x60, 0xFFFF);
        words[0x08] = 0x1234;
        words[0x40] = 10;      // strings, 2 words: count 2, "ab" (length 2), then length 9 cut short
        words[0x41] = 3;
        words[0x42] = 0x0202;  // count 2, first length 2
        words[0x43] = 0x6261;  // "ab"
        words[0x44] = 0x4309;  // second: length 9, "C", then the category ends
        words[0x45] = 30;      // general, name index 2
        words[0x46] = 2;
        words[0x47] = 0x0000;
        words[0x48] = 0x0200;
        const auto word = [&words](uint16_t address) { return address < words.size() ? words[address] : uint16_t(0xFFFF); };
        const SiiIdentity identity = parseSiiIdentity(word);
        QCOMPARE(identity.vendorId, 0xFFFF1234u);
        QCOMPARE(QString::fromStdString(identity.name), QString("C"));
        words[0x48] = 0x0700;  // name index 7: no such string
        QCOMPARE(QString::fromStdString(parseSiiIdentity(word).name), QString());
    }

    // A frame may chain several datagrams; the coupler serves each in passing, raises each one's
    // working counter by 1 for a read or write and 3 for a read-write, counts auto-increment
    // addresses up, leaves read-only registers as they are, and reads an empty mailbox with
    // working counter 0.
    void everyDatagramOfAFrameIsServed()
    {
        SimEthercat::Coupler coupler(128, true);
        const Bytes station = {0x01, 0x10};
        auto answered = coupler.answer(encodeFrame({Command::APWR, 1, 0, Register::stationAddress, station, 0}));
        QVERIFY(answered);
        std::vector<Datagram> chain = {
            {Command::BRD, 2, 0, Register::type, Bytes(2, 0), 0},
            {Command::FPRD, 2, 0x1001, Register::alStatus, Bytes(2, 0), 0},
            {Command::FPRW, 2, 0x1001, Register::alStatus, Bytes{0x08, 0x00}, 0},
            {Command::APRD, 2, 5, Register::alStatus, Bytes(2, 0), 0},
            {Command::ARMW, 2, 0, Register::alStatus, Bytes(2, 0), 0},
            {Command::FPRD, 2, 0x1001, SimEthercat::bootstrapReadMailbox, Bytes(128, 0), 0},
        };
        answered = coupler.answer(encodeDatagrams(chain));
        QVERIFY(answered);
        QVERIFY(isReturnedFrame(*answered));
        const auto returned = decodeDatagrams(*answered);
        QVERIFY(returned);
        std::vector<uint16_t> counters, positions;
        for (const Datagram &datagram : *returned) {
            counters.push_back(datagram.workingCounter);
            positions.push_back(datagram.position);
        }
        QCOMPARE(counters, (std::vector<uint16_t>{1, 1, 3, 0, 1, 0}));   // position 5: no such slave
        QCOMPARE(positions, (std::vector<uint16_t>{1, 0x1001, 0x1001, 6, 1, 0x1001}));
        QCOMPARE(le16((*returned)[1].data.data()), uint16_t(BOOT));
        QCOMPARE(le16((*returned)[2].data.data()), uint16_t(BOOT));   // the old value comes back
        QCOMPARE(coupler.state(), uint16_t(BOOT));                      // and AL status stays
        QVERIFY(!decodeFrame(*answered));   // one datagram only, where one is expected
    }

    // As the standard has it, BOOT is reached from INIT directly and left through INIT, with the
    // sync managers set to the bootstrap mailbox; PRE-OP needs the standard mailbox. From PRE-OP
    // only the vendor's boot request leads to BOOT. A refusal shows as the error indication
    // with its AL status code.
    void theStateMachineChecksTransitionsAndMailboxes()
    {
        SimEthercat::Coupler coupler(256);
        const auto request = [&coupler](Command command, uint16_t offset, const Bytes &data) {
            return *decodeFrame(*coupler.answer(encodeFrame({command, 8, 0, offset, data, 0})));
        };
        // AL status and AL status code after the request.
        const auto requestState = [&](uint16_t state) {
            request(Command::APWR, Register::alControl, Bytes{uint8_t(state | 0x10), 0});
            const Datagram status = request(Command::APRD, Register::alStatus, Bytes(6, 0));
            return std::make_pair(le16(status.data.data()), le16(status.data.data() + 4));
        };
        const auto setMailbox = [&](const SimEthercat::MailboxArea &area) {
            for (uint16_t activate : {0x0806, 0x080E})
                request(Command::APWR, activate, Bytes{0x00});
            request(Command::APWR, Register::syncManager0,
                    SyncManagerRecord{area.receiveStart, area.receiveSize, syncManagerFlagsMailboxWrite}.bytes());
            request(Command::APWR, Register::syncManager1,
                    SyncManagerRecord{area.sendStart, area.sendSize, syncManagerFlagsMailboxRead}.bytes());
        };
        const auto refused = [](uint16_t state, uint16_t code) {
            return std::make_pair(uint16_t(state | SimEthercat::alErrorIndication), code);
        };

        QCOMPARE(requestState(BOOT), refused(INIT, SimEthercat::alStatusInvalidBootMailbox));
        setMailbox(coupler.bootstrapMailbox());
        QCOMPARE(requestState(PRE_OP), refused(INIT, SimEthercat::alStatusInvalidMailbox));
        QCOMPARE(requestState(BOOT), std::make_pair(uint16_t(BOOT), uint16_t(0)));
        QCOMPARE(requestState(PRE_OP), refused(BOOT, SimEthercat::alStatusInvalidStateChange));
        requestState(INIT);
        setMailbox(SimEthercat::standardMailbox);
        QCOMPARE(requestState(PRE_OP), std::make_pair(uint16_t(PRE_OP), uint16_t(0)));
        QCOMPARE(requestState(BOOT), refused(PRE_OP, SimEthercat::alStatusInvalidStateChange));

        // The controller's own registers do not change by a write.
        QCOMPARE(request(Command::APWR, Register::type, Bytes{0x99, 0x99}).workingCounter, uint16_t(1));
        QCOMPARE(le16(request(Command::APRD, Register::type, Bytes(2, 0)).data.data()), uint16_t(0x0011));
    }

    // A message written again with the same counter (its first write's reply was lost) is taken
    // once; the repeat request puts the last reply back into the read mailbox, and the master
    // drops that copy by its counter.
    void repeatedMessagesAndTheRepeatRequest()
    {
        SimEthercat::Coupler coupler(128);
        const auto owned = masterInPreOp(coupler);
        Master &master = *owned;
        const Bytes request = Coe::encodeExpeditedDownload({0x5000, 3, {0x15, 0x2C, 0x7A, 0x4E}}, 3);
        QVERIFY(master.ec_mbxsend(1, request, 20000) > 0);
        Bytes reply;
        QVERIFY(master.ec_mbxreceive(1, reply, 100000) > 0);
        QVERIFY(master.ec_mbxsend(1, request, 20000) > 0);
        QCOMPARE(coupler.record().sdoDownloads.size(), std::size_t(1));
        QCOMPARE(coupler.record().repeatedMessagesIgnored, 1);

        const uint16_t station = master.ec_slave[1].configadr;
        const uint16_t readMailbox = master.ec_slave[1].mbx_ro;
        Bytes again(128, 0);
        QCOMPARE(master.ec_FPRD(station, readMailbox, 128, again.data(), 20000), 0);   // empty
        const uint8_t repeat = Register::syncManagerRepeatBit | 0x01;
        QCOMPARE(master.ec_FPWR(station, Register::syncManager1 + Register::syncManagerActivateOffset, 1, &repeat, 20000), 1);
        uint8_t acknowledge = 0;
        QCOMPARE(master.ec_FPRD(station, Register::syncManager1 + Register::syncManagerPdiControlOffset, 1, &acknowledge, 20000), 1);
        QCOMPARE(acknowledge & Register::syncManagerRepeatBit, int(Register::syncManagerRepeatBit));
        QCOMPARE(master.ec_FPRD(station, readMailbox, 128, again.data(), 20000), 1);
        QCOMPARE(again, reply);
        QCOMPARE(coupler.record().repeatRequests, 1);
        QCOMPARE(master.ec_mbxreceive(1, again, 1000), 0);   // nothing new, and no repeat asked for
        QCOMPARE(coupler.record().repeatRequests, 1);

        // An SDO request for an object the coupler does not have is answered by an SDO abort.
        Bytes upload = Coe::encodeExpeditedDownload({0x1C00, 0, Bytes(4, 0)}, 1);
        upload[8] = 0x40;   // initiate upload request
        QVERIFY(master.ec_mbxsend(1, upload, 20000) > 0);
        QVERIFY(master.ec_mbxreceive(1, reply, 100000) > 0);
        const auto answer = Coe::checkDownloadReply(reply, 0x1C00, 0);
        QCOMPARE(int(answer.kind), int(Coe::Reply::Aborted));
        QCOMPARE(answer.abortCode, SimEthercat::sdoAbortNoObject);
    }
};

TARNLOW_TEST_MAIN(TestEthercatWire)
#include "test_ethercat_wire.moc"
