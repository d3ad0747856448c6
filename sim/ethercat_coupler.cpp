#include "sim/ethercat_coupler.h"

#include "ethercat/ethercat_master.h"
#include "ethercat/foe_messages.h"

#include <algorithm>

namespace SimEthercat {

using namespace Ethercat;

namespace {
constexpr std::size_t memorySize = 0x10000;
constexpr uint16_t escTypeWord = 0x0011;
constexpr uint16_t alAcknowledge = 0x0010;
constexpr uint16_t eepromOfferedToPdi = 0x0001;
constexpr uint16_t eepromCommandError = 0x2000;
// What the slave controller reports of itself: FMMUs, sync managers and process RAM in KiB.
constexpr uint16_t fmmuCountRegister = 0x0004;
constexpr uint8_t fmmuCount = 3, syncManagerCount = 4, processRamKiB = 8;
constexpr std::size_t largestFile = 8u << 20;
// Sync manager control: operation mode (bits 0-1, 2 = mailbox) and direction (bits 2-3, 1 = the
// master writes).
constexpr uint16_t syncManagerControlOffset = 4;
constexpr uint8_t syncManagerModeAndDirection = 0x0F;
constexpr uint8_t mailboxWrittenByMaster = 0x06;
constexpr uint8_t mailboxReadByMaster = 0x02;
constexpr uint16_t syncManagerRegisterSets = 16;
// Of a sync manager's eight bytes, start address, length and control (0 to 4) are taken only
// while it is disabled.
constexpr uint16_t syncManagerSettingBytes = 5;

bool covers(uint16_t offset, std::size_t length, uint32_t address)
{
    return address >= offset && address < offset + length;
}

// Registers the master can read but not write: the controller's identity, DL and AL status,
// and each sync manager's status and PDI control bytes.
bool inSyncManagers(uint32_t address)
{
    return address >= Ethercat::Register::syncManager0
        && address < Ethercat::Register::syncManager0 + syncManagerRegisterSets * Ethercat::Register::syncManagerSize;
}

bool readOnlyRegister(uint32_t address)
{
    if (address < 0x0010 || (address >= 0x0110 && address < 0x0112)
        || (address >= Ethercat::Register::alStatus && address < 0x0136))
        return true;
    const uint32_t inSyncManager = (address - Ethercat::Register::syncManager0) % Ethercat::Register::syncManagerSize;
    return inSyncManagers(address)
        && (inSyncManager == Ethercat::Register::syncManagerStatusOffset
            || inSyncManager == Ethercat::Register::syncManagerPdiControlOffset);
}

SiiIdentity simulatedIdentity(const MailboxArea &bootstrap)
{
    SiiIdentity identity;
    identity.vendorId = simulatedVendorId;
    identity.productCode = simulatedProductCode;
    identity.revision = simulatedRevision;
    identity.serialNumber = 1;
    identity.name = simulatedName;
    identity.bootstrapMailbox = bootstrap;
    identity.standardMailbox = standardMailbox;
    identity.mailboxProtocols = Sii::protocolCoe | Sii::protocolFoe;
    return identity;
}
}

Coupler::Coupler(uint16_t mailboxSize, bool startInBoot, BootMailbox bootMailbox)
    : m_memory(memorySize, 0),
      m_mailboxSize(std::min(mailboxSize, maximumMailboxSize)),
      m_bootMailbox(bootMailbox),
      m_state(startInBoot ? BOOT : INIT)
{
    m_eeprom = siiImage(simulatedIdentity(bootstrapMailbox()));
    putLe16(m_memory, Register::type, escTypeWord);
    m_memory[fmmuCountRegister] = fmmuCount;
    m_memory[fmmuCountRegister + 1] = syncManagerCount;
    m_memory[fmmuCountRegister + 2] = processRamKiB;
    putLe16(m_memory, Register::eepromConfig, eepromOfferedToPdi);
    if (startInBoot)
        setSyncManagers(bootMailbox == BootMailbox::Standard ? standardMailbox : bootstrapMailbox());
    refreshStatus();
}

MailboxArea Coupler::bootstrapMailbox() const
{
    return {bootstrapWriteMailbox, m_mailboxSize, bootstrapReadMailbox, m_mailboxSize};
}

void Coupler::setSyncManagers(const MailboxArea &area)
{
    const Bytes write = SyncManagerRecord{area.receiveStart, area.receiveSize, syncManagerFlagsMailboxWrite}.bytes();
    const Bytes read = SyncManagerRecord{area.sendStart, area.sendSize, syncManagerFlagsMailboxRead}.bytes();
    std::copy(write.begin(), write.end(), m_memory.begin() + Register::syncManager0);
    std::copy(read.begin(), read.end(), m_memory.begin() + Register::syncManager1);
}

// Enabled, in mailbox mode, written by the master (0) and read by it (1), where `area` says.
bool Coupler::mailboxConfiguredAs(const MailboxArea &area) const
{
    const auto control = [this](int n) {
        return m_memory[Register::syncManager0 + n * Register::syncManagerSize + syncManagerControlOffset]
            & syncManagerModeAndDirection;
    };
    return syncManagerEnabled(0) && syncManagerEnabled(1) && control(0) == mailboxWrittenByMaster
        && control(1) == mailboxReadByMaster && syncManagerStart(0) == area.receiveStart
        && syncManagerLength(0) == area.receiveSize && syncManagerStart(1) == area.sendStart
        && syncManagerLength(1) == area.sendSize;
}

bool Coupler::syncManagerEnabled(int n) const
{
    return m_memory[Register::syncManager0 + n * Register::syncManagerSize + Register::syncManagerActivateOffset]
        & SyncManagerRecord::syncManagerEnable;
}

void Coupler::event(const std::string &text)
{
    if (onEvent)
        onEvent(text);
}

uint16_t Coupler::state()
{
    refreshStatus();
    return m_state;
}

uint16_t Coupler::syncManagerStart(int n) const
{
    return le16(m_memory.data() + Register::syncManager0 + n * Register::syncManagerSize);
}

uint16_t Coupler::syncManagerLength(int n) const
{
    return le16(m_memory.data() + Register::syncManager0 + n * Register::syncManagerSize + 2);
}

// Every datagram of the frame is served in order, as the frame passes the slave.
std::optional<Bytes> Coupler::answer(const Bytes &frame)
{
    auto datagrams = decodeDatagrams(frame);
    if (!datagrams)
        return std::nullopt;
    for (Datagram &datagram : *datagrams)
        serve(datagram);
    if (m_writeMailboxFull) {
        m_writeMailboxFull = false;
        takeMailboxMessage();
    }
    Bytes returned = encodeDatagrams(*datagrams);
    returned.resize(std::max(returned.size(), frame.size()), 0);
    std::copy(frame.begin(), frame.begin() + 12, returned.begin());
    returned[6] |= returnedFrameMacBit;
    return returned;
}

namespace {

// What a datagram asks of the one slave on the segment.
enum class Access { None, Read, Write, ReadWrite };

Access accessFor(const Datagram &datagram, uint16_t station)
{
    const bool first = datagram.position == 0;   // auto-increment address of this slave
    switch (datagram.command) {
    case Command::APRD: return first ? Access::Read : Access::None;
    case Command::APWR: return first ? Access::Write : Access::None;
    case Command::APRW: return first ? Access::ReadWrite : Access::None;
    case Command::FPRD: return datagram.position == station ? Access::Read : Access::None;
    case Command::FPWR: return datagram.position == station ? Access::Write : Access::None;
    case Command::FPRW: return datagram.position == station ? Access::ReadWrite : Access::None;
    case Command::BRD: return Access::Read;
    case Command::BWR: return Access::Write;
    case Command::BRW: return Access::ReadWrite;
    // The addressed slave reads, every other one writes what it read.
    case Command::ARMW: return first ? Access::Read : Access::Write;
    }
    return Access::None;
}

bool autoIncrements(Command command)
{
    switch (command) {
    case Command::APRD: case Command::APWR: case Command::APRW: case Command::ARMW:
    case Command::BRD: case Command::BWR: case Command::BRW:
        return true;
    default:
        return false;
    }
}

}

// The working counter grows by 1 for a read, 1 for a write and 3 for a read-write served.
void Coupler::serve(Datagram &datagram)
{
    const Access access = accessFor(datagram, le16(m_memory.data() + Register::stationAddress));
    if (autoIncrements(datagram.command))
        ++datagram.position;
    if (access == Access::None || datagram.offset + datagram.data.size() > memorySize)
        return;
    const bool reads = access == Access::Read || access == Access::ReadWrite;
    // An empty read mailbox cannot be read: the datagram passes with its working counter as it was.
    if (reads && !m_readMailboxFull && touchesReadMailbox(datagram.offset, datagram.data.size()))
        return;
    if (access != Access::Read && writesToFullMailbox(datagram))
        return;
    switch (access) {
    case Access::Read:
        read(datagram.offset, datagram.data);
        datagram.workingCounter += 1;
        break;
    case Access::Write:
        write(datagram.offset, datagram.data);
        datagram.workingCounter += 1;
        break;
    case Access::ReadWrite: {
        const Bytes written = datagram.data;
        read(datagram.offset, datagram.data);
        write(datagram.offset, written);
        datagram.workingCounter += 3;
        break;
    }
    case Access::None:
        break;
    }
}

// The read mailbox as the master set it up lies inside the slave's memory.
bool Coupler::readMailboxFits() const
{
    return uint32_t(syncManagerStart(1)) + syncManagerLength(1) <= memorySize;
}

// A full write mailbox takes no write until the slave has taken the message in it.
bool Coupler::writesToFullMailbox(const Datagram &datagram) const
{
    const uint32_t start = syncManagerStart(0);
    const uint32_t end = start + syncManagerLength(0);
    return m_writeMailboxFull && syncManagerEnabled(0) && syncManagerLength(0) > 0 && datagram.offset < end
        && datagram.offset + datagram.data.size() > start;
}

bool Coupler::touchesReadMailbox(uint16_t offset, std::size_t length) const
{
    const uint32_t start = syncManagerStart(1);
    const uint32_t end = start + syncManagerLength(1);
    return syncManagerEnabled(1) && syncManagerLength(1) > 0 && offset < end && offset + length > start;
}

void Coupler::refreshStatus()
{
    if (m_controlPending && Clock::now() >= m_controlAt) {
        const uint16_t control = *m_controlPending;
        m_controlPending.reset();
        requestState(control);
    }
    if (m_bootPending && Clock::now() >= m_bootAt) {
        m_bootPending = false;
        m_state = BOOT;
        m_bootRequested = false;
        event("state BOOT");
    }
    putLe16(m_memory, Register::alStatus, uint16_t(m_state | (m_statusCode ? alErrorIndication : 0)));
    putLe16(m_memory, Register::alStatusCode, m_statusCode);
    m_memory[Register::syncManager0 + Register::syncManagerStatusOffset] =
        m_writeMailboxFull ? syncManagerMailboxFull : 0;
    m_memory[Register::syncManager1 + Register::syncManagerStatusOffset] =
        m_readMailboxFull ? syncManagerMailboxFull : 0;
}

void Coupler::read(uint16_t offset, Bytes &data)
{
    refreshStatus();
    std::copy(m_memory.begin() + offset, m_memory.begin() + offset + data.size(), data.begin());
    const uint32_t busyByte = Register::eepromControl + 1;
    if (m_eepromBusyLeft > 0 && covers(offset, data.size(), busyByte)) {
        --m_eepromBusyLeft;
        data[busyByte - offset] |= uint8_t(eepromBusy >> 8);
    }
    const uint16_t length = syncManagerLength(1);
    if (m_readMailboxFull && syncManagerEnabled(1) && length > 0
        && covers(offset, data.size(), uint32_t(syncManagerStart(1)) + length - 1)) {
        if (readMailboxFits())
            m_lastRead.assign(m_memory.begin() + syncManagerStart(1),
                              m_memory.begin() + syncManagerStart(1) + length);
        m_readMailboxFull = false;
        loadNextReply();
    }
}

// The master toggled the repeat bit: the last message read goes back into the read mailbox,
// ahead of any newer one, and the acknowledge bit follows the request.
void Coupler::serveRepeatRequest()
{
    uint8_t &activate = m_memory[Register::syncManager1 + Register::syncManagerActivateOffset];
    uint8_t &pdiControl = m_memory[Register::syncManager1 + Register::syncManagerPdiControlOffset];
    if ((activate & Register::syncManagerRepeatBit) == (pdiControl & Register::syncManagerRepeatBit))
        return;
    pdiControl = uint8_t((pdiControl & ~Register::syncManagerRepeatBit) | (activate & Register::syncManagerRepeatBit));
    ++m_record.repeatRequests;
    if (m_lastRead.empty() || !readMailboxFits() || m_lastRead.size() != syncManagerLength(1))
        return;
    const uint16_t start = syncManagerStart(1);
    if (m_readMailboxFull)
        m_replies.emplace_front(m_memory.begin() + start, m_memory.begin() + start + syncManagerLength(1));
    std::copy(m_lastRead.begin(), m_lastRead.end(), m_memory.begin() + start);
    m_readMailboxFull = true;
    refreshStatus();
}

void Coupler::write(uint16_t offset, const Bytes &data)
{
    const bool wasEnabled[2] = {syncManagerEnabled(0), syncManagerEnabled(1)};
    bool dropped = false;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const uint32_t address = offset + i;
        const uint32_t inSyncManager = (address - Register::syncManager0) % Register::syncManagerSize;
        // The activate byte follows the settings, so within one datagram the settings see the
        // sync manager as it was when the datagram arrived.
        if (inSyncManagers(address) && inSyncManager < syncManagerSettingBytes
            && syncManagerEnabled(int((address - Register::syncManager0) / Register::syncManagerSize))) {
            dropped = true;
            continue;
        }
        if (!readOnlyRegister(address))
            m_memory[address] = data[i];
    }
    if (covers(offset, data.size(), Register::alControl))
        receiveAlControl(le16(m_memory.data() + Register::alControl));
    if (covers(offset, data.size(), Register::eepromConfig))
        m_eepromWithMaster = (m_memory[Register::eepromConfig] & eepromOfferedToPdi) == 0;
    if (covers(offset, data.size(), Register::eepromControl + 1))
        runEepromCommand();
    if (offset < Register::syncManager0 + 2 * Register::syncManagerSize && offset + data.size() > Register::syncManager0)
        recordSyncManagerWrite(offset, data, dropped);
    for (int n = 0; n < 2; ++n)
        if (wasEnabled[n] && !syncManagerEnabled(n))
            syncManagerDisabled(n);
    if (syncManagerEnabled(1)
        && covers(offset, data.size(), Register::syncManager1 + Register::syncManagerActivateOffset))
        serveRepeatRequest();
    const uint16_t length = syncManagerLength(0);
    if (syncManagerEnabled(0) && length > 0 && covers(offset, data.size(), uint32_t(syncManagerStart(0)) + length - 1))
        m_writeMailboxFull = true;
}

void Coupler::recordSyncManagerWrite(uint16_t offset, const Bytes &data, bool dropped)
{
    m_record.syncManagerWrites.push_back({offset, data, dropped});
    if (dropped)
        event("sync manager write at " + std::to_string(offset) + " dropped: the sync manager is enabled");
}

// Disabling a sync manager empties its buffer: a message in it is gone and a new mailbox starts
// without the counter of the last message. The repeat bits stay as they are.
void Coupler::syncManagerDisabled(int n)
{
    if (n == 0) {
        m_writeMailboxFull = false;
        m_lastCounterTaken = 0;
        return;
    }
    m_readMailboxFull = false;
    m_replies.clear();
    m_lastRead.clear();
    refreshStatus();
}

// The slave's firmware takes a new AL control value at once or, as real firmware does, a little
// later; a newer value replaces one not yet taken.
void Coupler::receiveAlControl(uint16_t control)
{
    m_record.alControlWrites.push_back(control);
    event("al control " + std::to_string(control));
    if (faults.alControlDelayMs <= 0) {
        requestState(control);
        return;
    }
    m_controlPending = control;
    m_controlAt = Clock::now() + std::chrono::milliseconds(faults.alControlDelayMs);
}

// An error indication stays until the master acknowledges it; while it is pending, a request
// for a higher state is ignored.
void Coupler::requestState(uint16_t control)
{
    refreshStatus();
    if (control & alAcknowledge)
        m_statusCode = 0;
    const uint16_t requested = control & stateMask;
    if (m_statusCode != 0 && requested > m_state)
        return;
    if (m_state == BOOT && requested != BOOT && faults.staysInBoot) {
        m_statusCode = alStatusInvalidStateChange;
    } else if (requested == INIT) {
        m_state = INIT;
        m_bootPending = false;
    } else if (requested == PRE_OP && m_state == BOOT) {
        m_statusCode = alStatusInvalidStateChange;  // BOOT is left through INIT only
    } else if (requested == PRE_OP) {
        enterIfMailboxFits(PRE_OP, standardMailbox, alStatusInvalidMailbox);
    } else if (requested == BOOT && m_state == BOOT) {
    } else if (requested == BOOT && (m_state == INIT || m_bootRequested) && !faults.neverBoot) {
        // INIT to BOOT is the standard way in; from PRE-OP only after the vendor's boot request.
        const bool keepsStandardMailbox = m_bootMailbox == BootMailbox::Standard && m_state == PRE_OP
            && mailboxConfiguredAs(standardMailbox);
        if (!mailboxConfiguredAs(bootstrapMailbox()) && !keepsStandardMailbox) {
            m_statusCode = alStatusInvalidBootMailbox;
        } else {
            m_bootPending = true;
            m_bootAt = Clock::now() + std::chrono::milliseconds(faults.bootDelayMs);
        }
    } else {
        m_statusCode = alStatusInvalidStateChange;
    }
    refreshStatus();
}

// A state with a mailbox is entered only when the master set up the sync managers as the SII
// describes that mailbox.
void Coupler::enterIfMailboxFits(uint16_t state, const MailboxArea &mailbox, uint16_t refusal)
{
    m_bootPending = false;
    if (!mailboxConfiguredAs(mailbox)) {
        m_statusCode = refusal;
        return;
    }
    m_state = state;
    m_statusCode = 0;
}

void Coupler::runEepromCommand()
{
    const uint16_t control = le16(m_memory.data() + Register::eepromControl);
    if (control != eepromCommandRead)
        return;
    const uint32_t word = le32(m_memory.data() + Register::eepromAddress);
    if (!m_eepromWithMaster) {
        putLe16(m_memory, Register::eepromControl, eepromCommandError);
        return;
    }
    m_record.eepromReads.push_back(uint16_t(word));
    m_eepromBusyLeft = faults.eepromBusyPolls;
    for (uint32_t i = 0; i < 2; ++i)
        putLe16(m_memory, Register::eepromData + 2 * i,
                word + i < m_eeprom.size() ? m_eeprom[word + i] : 0);
    putLe16(m_memory, Register::eepromControl, 0);
}

uint8_t Coupler::nextCounter()
{
    m_counter = nextMailboxCounter(m_counter);
    return m_counter;
}

void Coupler::takeMailboxMessage()
{
    const Bytes message(m_memory.begin() + syncManagerStart(0),
                        m_memory.begin() + syncManagerStart(0) + syncManagerLength(0));
    const auto header = readMailboxHeader(message);
    if (!header)
        return;
    // A message sent again with the same counter (its datagram's reply was lost) is the one
    // already taken; counter 0 asks for no such check.
    if (header->counter != 0 && header->counter == m_lastCounterTaken) {
        ++m_record.repeatedMessagesIgnored;
        return;
    }
    m_lastCounterTaken = header->counter;
    m_record.mailboxCounters.push_back(header->counter);
    if (faults.silentMailbox)
        return;
    if (header->type == mailboxTypeCoe)
        queueReply(handleCoe(message));
    else if (header->type == mailboxTypeFoe)
        queueReply(handleFoe(message));
}

Bytes Coupler::handleCoe(const Bytes &message)
{
    const auto download = Coe::decodeExpeditedDownload(message);
    if (!download) {
        const bool addressed = message.size() >= Coe::sdoMessageSize;
        return Coe::encodeAbort(addressed ? le16(message.data() + 9) : 0, addressed ? message[11] : 0,
                                sdoAbortCommandUnknown, nextCounter());
    }
    m_record.sdoDownloads.push_back(*download);
    if (m_state != PRE_OP)
        return Coe::encodeAbort(download->index, download->subIndex, sdoAbortDeviceState, nextCounter());
    if (download->index != bootRequestIndex || download->subIndex != bootRequestSubIndex
        || download->value.size() != 4)
        return Coe::encodeAbort(download->index, download->subIndex, sdoAbortNoObject, nextCounter());
    if (le32(download->value.data()) == bootRequestCode) {
        m_bootRequested = true;
        event("boot request");
    }
    return Coe::encodeDownloadResponse(download->index, download->subIndex, nextCounter());
}

Bytes Coupler::handleFoe(const Bytes &message)
{
    const auto foe = Foe::decode(message);
    if (!foe)
        return {};
    const auto error = [this](uint32_t code) { return Foe::encode({nextCounter(), Foe::Error, code, {}}); };
    if (m_state != BOOT)
        return error(foeErrorNotInBootstrap);
    if (foe->opCode == Foe::Write) {
        m_record.foeFileName.assign(foe->payload.begin(), foe->payload.end());
        m_record.foePassword = foe->word;
        ++m_record.foeWriteRequests;
        m_record.file.clear();
        m_record.file.reserve(largestFile);
        m_record.fileComplete = false;
        m_expectedPacket = 1;
        m_busyLeft = faults.busyReplies;
        event("foe write " + m_record.foeFileName);
        if (faults.foeErrorCode && faults.foeErrorAtPacket == 0)
            return error(faults.foeErrorCode);
        return Foe::encode({nextCounter(), Foe::Ack, 0, {}});
    }
    if (foe->opCode == Foe::Data)
        return foeData(foe->word, foe->payload);
    return error(faults.foeErrorCode ? faults.foeErrorCode : foeErrorPacketNumberWrong);
}

Bytes Coupler::foeData(uint32_t packet, const Bytes &segment)
{
    if (packet != m_expectedPacket)
        return Foe::encode({nextCounter(), Foe::Error, foeErrorPacketNumberWrong, {}});
    if (m_busyLeft > 0) {
        --m_busyLeft;
        ++m_record.busyAnswers;
        return Foe::encode({nextCounter(), Foe::Busy, 0, {}});
    }
    if (faults.coeReplyAtPacket == int(packet))
        return Coe::encodeAbort(bootRequestIndex, bootRequestSubIndex, sdoAbortDeviceState, nextCounter());
    if (faults.foeErrorCode && faults.foeErrorAtPacket == int(packet))
        return Foe::encode({nextCounter(), Foe::Error, faults.foeErrorCode, {}});
    m_record.foePackets.push_back(packet);
    m_record.foeSegmentSizes.push_back(segment.size());
    m_record.file.insert(m_record.file.end(), segment.begin(), segment.end());
    ++m_expectedPacket;
    if (segment.size() < std::size_t(syncManagerLength(0)) - Foe::mailboxOverhead) {
        m_record.fileComplete = true;
        event("file stored, " + std::to_string(m_record.file.size()) + " bytes");
        if (onFileStored)
            onFileStored(m_record);
    }
    return Foe::encode({nextCounter(), Foe::Ack, faults.wrongAckPacket ? packet + 1 : packet, {}});
}

void Coupler::queueReply(Bytes reply)
{
    if (reply.empty())
        return;
    m_replies.push_back(std::move(reply));
    if (!m_readMailboxFull)
        loadNextReply();
}

void Coupler::loadNextReply()
{
    if (m_replies.empty())
        return;
    Bytes reply = std::move(m_replies.front());
    m_replies.pop_front();
    const uint16_t start = syncManagerStart(1);
    const uint16_t length = syncManagerLength(1);
    if (!syncManagerEnabled(1) || length == 0 || reply.size() > length || start + length > memorySize)
        return;
    reply.resize(length, 0);
    std::copy(reply.begin(), reply.end(), m_memory.begin() + start);
    m_readMailboxFull = true;
    refreshStatus();
}

}
