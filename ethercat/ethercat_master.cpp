#include "ethercat/ethercat_master.h"

#include "ethercat/coe_sdo.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace Ethercat {

namespace {
// A register access of the master's own: its datagram goes again each time the reply window
// passes, for this long, which rides out a segment (or a simulator on a busy host) that stalls
// for a while.
constexpr int registerTimeoutUs = 200000;
constexpr int statePollIntervalUs = 1000;
// An adapter whose send queue is full (ENOBUFS) takes frames again once it has sent some.
constexpr int refusedSendPauseUs = 200;
constexpr int mailboxPollIntervalUs = 100;
constexpr uint16_t firstStationAddress = 0x1001;
constexpr uint16_t eepromOwnedByMaster = 0x0000;
// The bytes of a sync manager's flags that the master writes: control and activate.
constexpr uint32_t syncManagerMasterBytes = 0x00FF00FF;
constexpr uint32_t syncManagerActivateByte = 0x00FF0000;

void pause(int us)
{
    std::this_thread::sleep_for(std::chrono::microseconds(us));
}

using Clock = std::chrono::steady_clock;
}

Bytes SyncManagerRecord::bytes() const
{
    Bytes record(Register::syncManagerSize, 0);
    putLe16(record, 0, StartAddr);
    putLe16(record, 2, SMlength);
    putLe32(record, 4, SMflags);
    return record;
}

SyncManagerRecord SyncManagerRecord::fromRegisters(const uint8_t *record)
{
    return {le16(record), le16(record + 2), le32(record + 4) & syncManagerMasterBytes};
}

int Master::ec_init(const char *adapter)
{
    ec_close();
    m_link = m_opener ? m_opener(adapter) : nullptr;
    m_replyWindow = ReplyWindow();
    return m_link ? 1 : 0;
}

void Master::ec_close()
{
    m_link.reset();
    ec_slave = {};
    ec_slavecount = 0;
}

long Master::framesSent() const
{
    return m_link ? m_link->framesSent : 0;
}

bool Master::Awaited::answeredBy(const Datagram &reply) const
{
    return copies > 0 && uint8_t(reply.index - firstIndex) <= uint8_t(datagram->index - firstIndex)
           && reply.command == datagram->command && reply.data.size() == datagram->data.size();
}

std::optional<std::chrono::microseconds> Master::Awaited::roundTripOf(const Datagram &reply) const
{
    const Clock::time_point now = Clock::now();
    if (reply.index == firstIndex)
        return std::chrono::duration_cast<std::chrono::microseconds>(now - firstSent);
    if (reply.index == datagram->index)
        return std::chrono::duration_cast<std::chrono::microseconds>(now - lastSent);
    return std::nullopt;
}

bool Master::send(Awaited &awaited)
{
    Datagram &datagram = *awaited.datagram;
    datagram.index = ++m_index;
    datagram.workingCounter = 0;
    if (!m_link || !m_link->send(encodeFrame(datagram)))
        return false;
    awaited.lastSent = Clock::now();
    if (awaited.copies++ == 0) {
        awaited.firstIndex = datagram.index;
        awaited.firstSent = awaited.lastSent;
    }
    return true;
}

void Master::awaitReplies(std::initializer_list<Awaited *> pending, Deadline until)
{
    std::size_t missing = pending.size();
    Bytes answer;
    while (missing > 0 && m_link->receive(answer, int(until.remainingMicroseconds()))) {
        const auto returned = isReturnedFrame(answer) ? decodeFrame(answer) : std::nullopt;
        if (!returned)
            continue;
        for (Awaited *awaited : pending) {
            if (awaited->arrived || !awaited->answeredBy(*returned))
                continue;
            if (const auto roundTrip = awaited->roundTripOf(*returned))
                m_replyWindow.measured(*roundTrip);
            *awaited->datagram = *returned;
            awaited->arrived = true;
            --missing;
            break;
        }
    }
}

Deadline Master::replyWindowFromNow() const
{
    return Deadline::afterMicroseconds(m_replyWindow.length().count());
}

int Master::transact(Datagram &datagram, int timeoutUs, bool *resent)
{
    if (!m_link)
        return noFrame;
    const Deadline deadline = Deadline::afterMicroseconds(timeoutUs);
    Awaited awaited(&datagram);
    for (;;) {
        if (send(awaited)) {
            const Deadline windowEnd = deadline.orSooner(replyWindowFromNow());
            awaitReplies({&awaited}, windowEnd);
            if (resent)
                *resent = awaited.copies > 1;
            if (awaited.arrived)
                return datagram.workingCounter;
            m_replyWindow.ranOut();
            // A link that failed to receive at once (a capture error) is not flooded with copies.
            pause(int(windowEnd.remainingMicroseconds()));
        } else {
            pause(refusedSendPauseUs);
        }
        if (deadline.passed())
            return noFrame;
    }
}

int Master::readRegister(Command command, uint16_t position, uint16_t offset, uint16_t length,
                         void *data, int timeoutUs)
{
    Datagram datagram{command, 0, position, offset, Bytes(length, 0), 0};
    const int workingCounter = transact(datagram, timeoutUs);
    if (workingCounter > 0)
        std::memcpy(data, datagram.data.data(), length);
    return workingCounter;
}

int Master::writeRegister(Command command, uint16_t position, uint16_t offset, uint16_t length,
                          const void *data, int timeoutUs)
{
    const auto *bytes = static_cast<const uint8_t *>(data);
    Datagram datagram{command, 0, position, offset, Bytes(bytes, bytes + length), 0};
    return transact(datagram, timeoutUs);
}

int Master::ec_APRD(uint16_t position, uint16_t offset, uint16_t length, void *data, int timeoutUs)
{
    return readRegister(Command::APRD, position, offset, length, data, timeoutUs);
}

int Master::ec_APWR(uint16_t position, uint16_t offset, uint16_t length, const void *data, int timeoutUs)
{
    return writeRegister(Command::APWR, position, offset, length, data, timeoutUs);
}

int Master::ec_FPRD(uint16_t station, uint16_t offset, uint16_t length, void *data, int timeoutUs)
{
    return readRegister(Command::FPRD, station, offset, length, data, timeoutUs);
}

int Master::ec_FPWR(uint16_t station, uint16_t offset, uint16_t length, const void *data, int timeoutUs)
{
    return writeRegister(Command::FPWR, station, offset, length, data, timeoutUs);
}

int Master::ec_BRD(uint16_t offset, uint16_t length, void *data, int timeoutUs)
{
    return readRegister(Command::BRD, 0, offset, length, data, timeoutUs);
}

int Master::ec_BWR(uint16_t offset, uint16_t length, const void *data, int timeoutUs)
{
    return writeRegister(Command::BWR, 0, offset, length, data, timeoutUs);
}

int Master::ec_config_init(bool)
{
    ec_slavecount = 0;
    uint8_t type[2] = {};
    const int found = ec_BRD(Register::type, sizeof type, type, registerTimeoutUs);
    if (found <= 0)
        return 0;
    const int count = std::min(found, maximumSlaves);
    for (int position = 1; position <= count; ++position) {
        Slave &slave = ec_slave[position];
        const uint16_t station = uint16_t(firstStationAddress + position - 1);
        const uint8_t address[2] = {uint8_t(station), uint8_t(station >> 8)};
        if (ec_APWR(uint16_t(1 - position), Register::stationAddress, 2, address, registerTimeoutUs) <= 0)
            break;
        slave.configadr = station;
        ec_slavecount = position;
        uint8_t status[2] = {};
        if (ec_FPRD(station, Register::alStatus, 2, status, registerTimeoutUs) > 0)
            slave.state = le16(status);
        configureMailbox(uint16_t(position));
    }
    return ec_slavecount;
}

int Master::ec_detect()
{
    ec_slavecount = 0;
    uint8_t type[2] = {};
    const int found = ec_BRD(Register::type, sizeof type, type, registerTimeoutUs);
    if (found <= 0)
        return 0;
    for (int position = 1; position <= std::min(found, maximumSlaves); ++position) {
        Slave &slave = ec_slave[position];
        slave = Slave{};
        uint8_t status[4] = {};
        if (readSlave(uint16_t(position), Register::alStatus, 2, status) <= 0
            || readSlave(uint16_t(position), Register::alStatusCode, 2, status + 2) <= 0)
            break;
        slave.state = le16(status);
        slave.alStatusCode = le16(status + 2);
        ec_slavecount = position;
    }
    return ec_slavecount;
}

// A slave without a station address yet is reached by its position on the segment.
int Master::readSlave(uint16_t slave, uint16_t offset, uint16_t length, void *data)
{
    const uint16_t station = ec_slave[slave].configadr;
    return station ? ec_FPRD(station, offset, length, data, registerTimeoutUs)
                   : ec_APRD(uint16_t(1 - slave), offset, length, data, registerTimeoutUs);
}

int Master::writeSlave(uint16_t slave, uint16_t offset, uint16_t length, const void *data)
{
    const uint16_t station = ec_slave[slave].configadr;
    return station ? ec_FPWR(station, offset, length, data, registerTimeoutUs)
                   : ec_APWR(uint16_t(1 - slave), offset, length, data, registerTimeoutUs);
}

// A mailbox is set up in INIT: a slave in any other state keeps the mailbox it has (a boot
// loader in BOOT works with it, and a running slave is not to lose it under way). Only a slave in
// BOOT without one gets its bootstrap mailbox, and a slave in INIT the standard one of its SII.
void Master::configureMailbox(uint16_t position)
{
    const uint16_t state = ec_slave[position].state & stateMask;
    if (readMailbox(position) && state != INIT)
        return;
    if (state == INIT || state == BOOT)
        setMailbox(position, readSiiMailbox(position, state == BOOT ? siiBootstrapReceiveMailbox : siiStandardReceiveMailbox,
                                            registerTimeoutUs));
}

MailboxArea Master::readSiiMailbox(uint16_t slave, uint16_t receiveEntryWord, int timeoutUs)
{
    const uint32_t receive = ec_readeeprom(slave, receiveEntryWord, timeoutUs);
    const uint32_t send = ec_readeeprom(slave, uint16_t(receiveEntryWord + 2), timeoutUs);
    return MailboxArea::fromSii(receive, send);
}

// A sync manager carries a mailbox when the master has enabled it and the slave has not switched
// it off from its side.
bool Master::readMailbox(uint16_t position)
{
    Slave &slave = ec_slave[position];
    uint8_t records[2 * Register::syncManagerSize] = {};
    const bool read = readSlave(position, Register::syncManager0, sizeof records, records) > 0;
    const auto active = [&](uint16_t n) {
        const uint8_t *record = records + n * Register::syncManagerSize;
        return slave.SM[n].enabled() && slave.SM[n].SMlength > 0
            && (record[Register::syncManagerPdiControlOffset] & syncManagerDeactivatedByPdi) == 0;
    };
    slave.SM[0] = read ? SyncManagerRecord::fromRegisters(records) : SyncManagerRecord{};
    slave.SM[1] = read ? SyncManagerRecord::fromRegisters(records + Register::syncManagerSize) : SyncManagerRecord{};
    const bool usable = read && active(0) && active(1);
    slave.mbx_wo = usable ? slave.SM[0].StartAddr : 0;
    slave.mbx_l = usable ? slave.SM[0].SMlength : 0;
    slave.mbx_ro = usable ? slave.SM[1].StartAddr : 0;
    slave.mbx_rl = usable ? slave.SM[1].SMlength : 0;
    return usable;
}

bool Master::setMailbox(uint16_t position, const MailboxArea &area)
{
    if (area.empty())
        return false;
    const SyncManagerRecord wanted[2] = {{area.receiveStart, area.receiveSize, syncManagerFlagsMailboxWrite},
                                         {area.sendStart, area.sendSize, syncManagerFlagsMailboxRead}};
    const bool hasMailbox = readMailbox(position);
    Slave &slave = ec_slave[position];
    for (uint16_t n = 0; n < 2; ++n) {
        const SyncManagerRecord &now = slave.SM[n];
        if (!hasMailbox || now.StartAddr != wanted[n].StartAddr || now.SMlength != wanted[n].SMlength
            || now.control() != wanted[n].control())
            rewriteSyncManager(position, n, wanted[n], uint8_t(now.SMflags >> 16));
    }
    slave.mbx_rcnt = 0;
    return readMailbox(position)
        && MailboxArea{slave.mbx_wo, slave.mbx_l, slave.mbx_ro, slave.mbx_rl} == area;
}

// The repeat bit of the activate byte keeps its value throughout: it is compared with the
// slave's repeat acknowledge, and a change would ask for a repeat nobody wants.
void Master::rewriteSyncManager(uint16_t position, uint16_t number, const SyncManagerRecord &record, uint8_t activate)
{
    const uint16_t base = uint16_t(Register::syncManager0 + number * Register::syncManagerSize);
    const uint16_t activateRegister = base + Register::syncManagerActivateOffset;
    const uint8_t disabled = activate & uint8_t(~SyncManagerRecord::syncManagerEnable);
    const uint8_t enabled = disabled | SyncManagerRecord::syncManagerEnable;
    SyncManagerRecord whileDisabled = record;
    whileDisabled.SMflags = (record.SMflags & ~syncManagerActivateByte) | (uint32_t(disabled) << 16);
    if (writeSlave(position, activateRegister, 1, &disabled) > 0
        && writeSlave(position, base, Register::syncManagerSize, whileDisabled.bytes().data()) > 0)
        writeSlave(position, activateRegister, 1, &enabled);
}

uint16_t Master::ec_statecheck(uint16_t slave, uint16_t requestedState, int timeoutUs)
{
    return pollState(slave, requestedState, timeoutUs, false);
}

uint16_t Master::awaitState(uint16_t slave, uint16_t requestedState, int timeoutUs)
{
    return pollState(slave, requestedState, timeoutUs, true);
}

// AL status in the low and AL status code in the high half, read in one datagram.
std::optional<uint32_t> Master::readAlStatus(uint16_t slave)
{
    uint8_t status[6] = {};
    if (ec_FPRD(ec_slave[slave].configadr, Register::alStatus, sizeof status, status, registerTimeoutUs) <= 0)
        return std::nullopt;
    return uint32_t(le16(status)) | uint32_t(le16(status + 4)) << 16;
}

uint16_t Master::pollState(uint16_t slave, uint16_t requestedState, int timeoutUs, bool untilRefused)
{
    Slave &target = ec_slave[slave];
    const Deadline deadline = Deadline::afterMicroseconds(timeoutUs);
    uint32_t status = 0;
    for (;;) {
        if (const auto read = readAlStatus(slave))
            status = *read;
        const bool refused = (status & alErrorIndication) && status != target.statusBeforeRequest;
        if ((status & stateMask) == requestedState || deadline.passed() || (untilRefused && refused))
            break;
        pause(statePollIntervalUs);
    }
    target.state = uint16_t(status);
    target.alStatusCode = (status & alErrorIndication) ? uint16_t(status >> 16) : 0;
    return status & stateMask;
}

int Master::ec_writestate(uint16_t slave)
{
    const uint8_t control[2] = {uint8_t(ec_slave[slave].state), uint8_t(ec_slave[slave].state >> 8)};
    return ec_FPWR(ec_slave[slave].configadr, Register::alControl, 2, control, registerTimeoutUs);
}

int Master::requestState(uint16_t slave, uint16_t control)
{
    ec_slave[slave].statusBeforeRequest = readAlStatus(slave);
    ec_slave[slave].state = control;
    return ec_writestate(slave);
}

bool Master::takeEeprom(uint16_t slave)
{
    if (ec_slave[slave].eepromWithMaster)
        return true;
    const uint8_t owner[2] = {uint8_t(eepromOwnedByMaster), 0};
    ec_slave[slave].eepromWithMaster = writeSlave(slave, Register::eepromConfig, 2, owner) > 0;
    return ec_slave[slave].eepromWithMaster;
}

bool Master::waitEepromIdle(uint16_t slave, int timeoutUs, uint16_t &status)
{
    const Deadline deadline = Deadline::afterMicroseconds(timeoutUs);
    for (;;) {
        uint8_t control[2] = {};
        if (readSlave(slave, Register::eepromControl, 2, control) > 0) {
            status = le16(control);
            if ((status & eepromBusy) == 0)
                return true;
        }
        if (deadline.passed())
            return false;
        pause(mailboxPollIntervalUs);
    }
}

uint32_t Master::ec_readeeprom(uint16_t slave, uint16_t wordAddress, int timeoutUs)
{
    uint16_t status = 0;
    if (!takeEeprom(slave) || !waitEepromIdle(slave, timeoutUs, status))
        return 0;
    const uint8_t address[4] = {uint8_t(wordAddress), uint8_t(wordAddress >> 8), 0, 0};
    const uint8_t command[2] = {uint8_t(eepromCommandRead), uint8_t(eepromCommandRead >> 8)};
    if (writeSlave(slave, Register::eepromAddress, 4, address) <= 0
        || writeSlave(slave, Register::eepromControl, 2, command) <= 0
        || !waitEepromIdle(slave, timeoutUs, status) || (status & eepromErrorBits) != 0)
        return 0;
    uint8_t data[4] = {};
    if (readSlave(slave, Register::eepromData, 4, data) <= 0)
        return 0;
    return le32(data);
}

void Master::ec_clearmbx(Bytes &mailbox) const
{
    mailbox.assign(mailbox.size(), 0);
}

// A write into a full mailbox is ignored by the slave controller and comes back with working
// counter 0: the message goes again until the slave has taken its predecessor. A write whose
// first reply was lost may reach the slave twice; the slave drops the second copy by its counter.
int Master::ec_mbxsend(uint16_t slave, const Bytes &mailbox, int timeoutUs)
{
    const Slave &target = ec_slave[slave];
    if (target.mbx_l == 0 || mailbox.size() > target.mbx_l)
        return 0;
    Bytes whole = mailbox;
    whole.resize(target.mbx_l, 0);
    const Deadline deadline = Deadline::afterMicroseconds(timeoutUs);
    for (;;) {
        Datagram datagram{Command::FPWR, 0, target.configadr, target.mbx_wo, whole, 0};
        const int workingCounter = transact(datagram, registerTimeoutUs);
        if (workingCounter > 0)
            return workingCounter;
        if (workingCounter == noFrame || deadline.passed())
            return 0;
        pause(mailboxPollIntervalUs);
    }
}

// Reads the read mailbox until a message comes: an empty mailbox answers with working counter 0
// and is polled again. A read whose first reply was lost has emptied the mailbox all the same
// (its resend finds nothing), so the slave is asked to repeat its last message; a message that
// arrives twice that way carries the counter of the one already taken and is dropped.
int Master::ec_mbxreceive(uint16_t slave, Bytes &mailbox, int timeoutUs)
{
    Slave &source = ec_slave[slave];
    if (source.mbx_rl == 0)
        return 0;
    const Deadline deadline = Deadline::afterMicroseconds(timeoutUs);
    for (;;) {
        Datagram datagram{Command::FPRD, 0, source.configadr, source.mbx_ro, Bytes(source.mbx_rl, 0), 0};
        bool resent = false;
        const int workingCounter = transact(datagram, registerTimeoutUs, &resent);
        if (workingCounter > 0 && !isRepeatOfLastMessage(source, datagram.data)) {
            mailbox = std::move(datagram.data);
            return workingCounter;
        }
        if (workingCounter == 0 && resent)
            requestMailboxRepeat(slave, deadline);
        if (deadline.passed())
            return 0;
        pause(mailboxPollIntervalUs);
    }
}

// The message goes out and, right behind it and without waiting for its reply, the read of the
// read mailbox: a slave that has answered by the time the second frame passes it gets its answer
// read in the same round trip. A slave that needs longer is polled by the ordinary receive; a
// frame that did not come back is finished by the ordinary send (the slave drops a second copy
// by its counter) and receive (with the repeat request, as the lost read may have emptied the
// mailbox).
MailboxExchange Master::mailboxExchange(uint16_t slave, const Bytes &message, Bytes &reply,
                                        int sendTimeoutUs, int receiveTimeoutUs)
{
    Slave &target = ec_slave[slave];
    if (target.mbx_l == 0 || message.size() > target.mbx_l || target.mbx_rl == 0)
        return {0, 0};
    Bytes whole = message;
    whole.resize(target.mbx_l, 0);
    Datagram write{Command::FPWR, 0, target.configadr, target.mbx_wo, whole, 0};
    Datagram read{Command::FPRD, 0, target.configadr, target.mbx_ro, Bytes(target.mbx_rl, 0), 0};
    Awaited writing(&write), reading(&read);
    if (send(writing)) {
        send(reading);
        awaitReplies({&writing, &reading}, replyWindowFromNow());
        if (!writing.arrived)
            m_replyWindow.ranOut();
    }
    const bool written = writing.arrived, readBack = reading.arrived;
    const bool refused = written && write.workingCounter == 0;   // the write mailbox was still full
    if (readBack && read.workingCounter > 0 && !refused && !isRepeatOfLastMessage(target, read.data)) {
        reply = std::move(read.data);
        return {written ? int(write.workingCounter) : 1, int(read.workingCounter)};
    }
    MailboxExchange result{written ? int(write.workingCounter) : 0, 0};
    if (result.sent <= 0 && (result.sent = ec_mbxsend(slave, message, sendTimeoutUs)) <= 0)
        return result;
    if (!readBack)
        requestMailboxRepeat(slave, Deadline::afterMicroseconds(receiveTimeoutUs));
    result.received = ec_mbxreceive(slave, reply, receiveTimeoutUs);
    return result;
}

bool Master::isRepeatOfLastMessage(Slave &source, const Bytes &message)
{
    const auto header = readMailboxHeader(message);
    const uint8_t counter = header ? header->counter : 0;
    const bool repeat = counter != 0 && counter == source.mbx_rcnt;
    source.mbx_rcnt = counter;
    return repeat;
}

void Master::requestMailboxRepeat(uint16_t slave, Deadline deadline)
{
    const uint16_t station = ec_slave[slave].configadr;
    const uint16_t activate = Register::syncManager1 + Register::syncManagerActivateOffset;
    const uint16_t pdiControl = Register::syncManager1 + Register::syncManagerPdiControlOffset;
    uint8_t value = 0;
    if (ec_FPRD(station, activate, 1, &value, registerTimeoutUs) <= 0)
        return;
    value ^= Register::syncManagerRepeatBit;
    if (ec_FPWR(station, activate, 1, &value, registerTimeoutUs) <= 0)
        return;
    const uint8_t wanted = value & Register::syncManagerRepeatBit;
    for (uint8_t acknowledge = 0; !deadline.passed(); pause(mailboxPollIntervalUs)) {
        if (ec_FPRD(station, pdiControl, 1, &acknowledge, registerTimeoutUs) > 0
            && (acknowledge & Register::syncManagerRepeatBit) == wanted)
            return;
    }
}

uint8_t Master::ec_nextmbxcnt(uint8_t counter)
{
    return nextMailboxCounter(counter);
}

int Master::ec_SDOwrite(uint16_t slave, uint16_t index, uint8_t subIndex, bool, int size,
                        const void *data, int timeoutUs)
{
    Slave &target = ec_slave[slave];
    Bytes pending(target.mbx_rl, 0);
    ec_mbxreceive(slave, pending, 0);
    const auto *bytes = static_cast<const uint8_t *>(data);
    target.mbx_cnt = ec_nextmbxcnt(target.mbx_cnt);
    const Bytes request = Coe::encodeExpeditedDownload(
        {index, subIndex, Bytes(bytes, bytes + std::min(std::max(size, 0), 4))}, target.mbx_cnt);
    if (ec_mbxsend(slave, request, registerTimeoutUs) <= 0)
        return 0;
    Bytes reply(target.mbx_rl, 0);
    const int workingCounter = ec_mbxreceive(slave, reply, timeoutUs);
    if (workingCounter <= 0)
        return 0;
    return Coe::checkDownloadReply(reply, index, subIndex).kind == Coe::Reply::Confirmed
        ? workingCounter : 0;
}

}
