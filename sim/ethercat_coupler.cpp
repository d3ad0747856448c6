#include "sim/ethercat_coupler.h"

#include "ethercat/ethercat_master.h"

#include <algorithm>

namespace SimEthercat {

using namespace Ethercat;

namespace {
constexpr std::size_t memorySize = 0x10000;
constexpr uint16_t alAcknowledge = 0x0010;
constexpr std::size_t largestFile = 8u << 20;

// What the slave controller reports of itself: type 0x11 in revision 0 and its build, its
// FMMUs, sync managers and process RAM in KiB, and its ports: 0 and 1 MII (11b each), 2 and 3
// not implemented (00b).
constexpr uint16_t escTypeWord = 0x0011;
constexpr uint16_t escBuild = 0x0001;
constexpr uint8_t fmmuCount = 3, syncManagerCount = 4, processRamKiB = 8;
constexpr uint8_t portDescriptor = 0x0F;
constexpr uint16_t miiPortsZeroAndOne = Sii::portMii | Sii::portMii << 4;

// Registers the master library does not name.
constexpr uint16_t buildRegister = 0x0002;
constexpr uint16_t fmmuCountRegister = 0x0004;      // then sync managers and RAM size
constexpr uint16_t portDescriptorRegister = 0x0007;
constexpr uint16_t stationAliasRegister = 0x0012;
constexpr uint16_t dlControlRegister = 0x0100;
constexpr uint16_t dlStatusRegister = 0x0110;
constexpr uint16_t pdiControlRegister = 0x0140;     // then the ESC configuration
constexpr uint16_t errorCountersStart = 0x0300;
constexpr uint16_t errorCountersEnd = 0x0314;
constexpr uint16_t processingUnitErrorCounter = 0x030C;
constexpr uint16_t fmmu0 = 0x0600;
constexpr uint16_t fmmuSize = 16;
constexpr uint16_t fmmuRegisterSets = 16;
constexpr uint16_t eepromPdiAccess = 0x0501;

// DL control after power-up: frames that are no EtherCAT frames are destroyed (forwarding rule),
// each port's loop in auto mode, receive FIFO size 7, station alias not used for addressing.
constexpr uint8_t dlControlAtPowerUp[4] = {0x01, 0x00, 0x07, 0x00};
constexpr uint8_t forwardingRuleDestroys = 0x01;
constexpr uint16_t dlControlAliasByte = dlControlRegister + 3;
constexpr uint8_t stationAliasEnabled = 0x01;        // bit 24

// DL status: the slave is alone on its segment with the master on port 0, where it has link and
// communication with the loop open; port 1 has no link and ports 2 and 3 do not exist, so their
// loops are closed. The PDI is operational, and the firmware behind it reloads its watchdog, once
// the configuration area of the EEPROM loaded with a right checksum.
constexpr uint16_t pdiOperational = 0x0001;
constexpr uint16_t pdiWatchdogReloaded = 0x0002;
constexpr uint16_t linkOnPort0 = 0x0010;
constexpr uint16_t communicationOnPort0 = 0x0200;
constexpr uint16_t loopClosedOnPort1 = 0x0400, loopClosedOnPort2 = 0x1000, loopClosedOnPort3 = 0x4000;
constexpr uint16_t dlStatusAloneOnSegment = linkOnPort0 | communicationOnPort0 | loopClosedOnPort1
    | loopClosedOnPort2 | loopClosedOnPort3;
constexpr uint16_t pdiRunning = pdiOperational | pdiWatchdogReloaded;

// The EEPROM interface: the master offers the EEPROM to the PDI or forces it back, and writes a
// command with the write enable bit; the controller answers with the status bits.
constexpr uint8_t eepromOfferedToPdi = 0x01;
constexpr uint8_t eepromForcedToEcat = 0x02;
constexpr uint8_t pdiHasEeprom = 0x01;
constexpr uint16_t eepromWriteEnable = 0x0001;
constexpr uint16_t eepromCommandBits = 0x0700;
constexpr uint16_t eepromCommandWrite = 0x0200;
constexpr uint16_t eepromCommandReload = 0x0400;
constexpr uint16_t eepromChecksumError = 0x0800;
constexpr uint16_t eepromCommandError = 0x2000;
constexpr uint16_t eepromWriteEnableError = 0x4000;

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

// Frames: the shortest an Ethernet segment carries (64 bytes with the frame check sequence),
// the EtherType, which may follow one VLAN tag, and the EtherCAT header and datagram fields.
constexpr std::size_t shortestFrame = 60;
constexpr std::size_t sourceAddressAt = 6;
constexpr std::size_t etherTypeOffset = 12;
constexpr uint16_t vlanTagType = 0x8100;
constexpr std::size_t vlanTagSize = 4;
constexpr unsigned frameTypeShift = 12;
constexpr std::size_t etherTypeSize = 2;
constexpr std::size_t datagramAdpAt = 2;
constexpr std::size_t datagramAdoAt = 4;
constexpr std::size_t datagramLengthAt = 6;
constexpr uint16_t datagramLengthMask = 0x07FF;
constexpr uint16_t moreDatagramsFollow = 0x8000;
// Configured address read, multiple write: the slave at the address reads, every other writes.
constexpr Command FRMW = Command(14);

bool covers(uint16_t offset, std::size_t length, uint32_t address)
{
    return address >= offset && address < offset + length;
}

bool within(uint32_t address, uint32_t start, uint32_t length)
{
    return address >= start && address < start + length;
}

bool inSyncManagers(uint32_t address)
{
    return within(address, Register::syncManager0, syncManagerRegisterSets * Register::syncManagerSize);
}

// Of the sync manager registers, the master writes neither the status nor the PDI control byte
// of any, nor anything of those the controller does not have.
bool fixedSyncManagerByte(uint32_t address)
{
    if (!inSyncManagers(address))
        return false;
    const uint32_t number = (address - Register::syncManager0) / Register::syncManagerSize;
    const uint32_t byte = (address - Register::syncManager0) % Register::syncManagerSize;
    return number >= syncManagerCount || byte == Register::syncManagerStatusOffset
        || byte == Register::syncManagerPdiControlOffset;
}

bool missingFmmu(uint32_t address)
{
    return within(address, fmmu0 + fmmuCount * fmmuSize, (fmmuRegisterSets - fmmuCount) * fmmuSize);
}

// The registers the slave controller keeps to itself: its identity, the station alias, DL status,
// AL status and code, PDI control and ESC configuration, and who has the EEPROM.
bool readOnlyRegister(uint32_t address)
{
    return address < Register::stationAddress || within(address, stationAliasRegister, 2)
        || within(address, dlStatusRegister, 2) || within(address, Register::alStatus, 6)
        || within(address, pdiControlRegister, 2) || address == eepromPdiAccess
        || fixedSyncManagerByte(address) || missingFmmu(address);
}

// The bits of a register byte a write from the master changes; the controller ignores the others.
uint8_t writableBits(uint32_t address)
{
    if (address == Register::eepromConfig)
        return eepromOfferedToPdi | eepromForcedToEcat;
    if (address == Register::eepromControl)
        return uint8_t(eepromWriteEnable);
    if (address == Register::eepromControl + 1u)
        return uint8_t(eepromCommandBits >> 8);
    return readOnlyRegister(address) ? 0x00 : 0xFF;
}

SiiIdentity simulatedIdentity(const MailboxArea &bootstrap)
{
    SiiIdentity identity;
    identity.pdiControl = Sii::pdiSpi;
    identity.vendorId = simulatedVendorId;
    identity.productCode = simulatedProductCode;
    identity.revision = simulatedRevision;
    identity.serialNumber = simulatedSerialNumber;
    identity.name = simulatedName;
    identity.bootstrapMailbox = bootstrap;
    identity.standardMailbox = standardMailbox;
    identity.mailboxProtocols = Sii::protocolCoe | Sii::protocolFoe;
    identity.coeDetails = Sii::coeSdoEnabled;
    identity.foeDetails = Sii::foeEnabled;
    identity.generalFlags = Sii::flagMailboxDataLinkLayer;
    identity.physicalPorts = miiPortsZeroAndOne;
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
    putLe16(m_memory, buildRegister, escBuild);
    m_memory[fmmuCountRegister] = fmmuCount;
    m_memory[fmmuCountRegister + 1] = syncManagerCount;
    m_memory[fmmuCountRegister + 2] = processRamKiB;
    m_memory[portDescriptorRegister] = portDescriptor;
    std::copy(std::begin(dlControlAtPowerUp), std::end(dlControlAtPowerUp), m_memory.begin() + dlControlRegister);
    loadEscConfiguration();
    if (startInBoot)
        setSyncManagers(bootMailbox == BootMailbox::Standard ? standardMailbox : bootstrapMailbox());
    refreshStatus();
}

// At power-up, and when the master asks for it, the controller takes PDI control, ESC
// configuration and station alias from the EEPROM's configuration area and starts its PDI; an
// area whose checksum is wrong it does not take, and the PDI stops. False then.
bool Coupler::loadEscConfiguration()
{
    const bool intact = uint8_t(m_eeprom[Sii::configChecksum]) == siiConfigChecksum(m_eeprom);
    if (intact) {
        putLe16(m_memory, pdiControlRegister, m_eeprom[Sii::pdiControl]);
        putLe16(m_memory, stationAliasRegister, m_eeprom[Sii::stationAlias]);
    }
    putLe16(m_memory, dlStatusRegister, uint16_t(dlStatusAloneOnSegment | (intact ? pdiRunning : 0)));
    return intact;
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

namespace {

uint16_t bigEndianAt(const Bytes &frame, std::size_t at)
{
    return uint16_t(frame[at] << 8 | frame[at + 1]);
}

// Where the EtherCAT header of a frame lies: after the EtherType 0x88A4, which may follow one
// VLAN tag (the tag stays as it is); nothing for a frame of another protocol.
std::optional<std::size_t> ethercatHeaderAt(const Bytes &frame)
{
    std::size_t at = etherTypeOffset;
    if (bigEndianAt(frame, at) == vlanTagType)
        at += vlanTagSize;
    if (bigEndianAt(frame, at) != etherType)
        return std::nullopt;
    return at + etherTypeSize;
}

// A datagram and where its header starts in the frame.
struct PlacedDatagram {
    std::size_t at = 0;
    Datagram datagram;
};

Datagram datagramAt(const Bytes &frame, std::size_t at, std::size_t dataSize)
{
    Datagram datagram;
    datagram.command = Command(frame[at]);
    datagram.index = frame[at + 1];
    datagram.position = le16(frame.data() + at + datagramAdpAt);
    datagram.offset = le16(frame.data() + at + datagramAdoAt);
    const auto data = frame.begin() + long(at + datagramHeaderSize);
    datagram.data.assign(data, data + long(dataSize));
    datagram.workingCounter = le16(frame.data() + at + datagramHeaderSize + dataSize);
    return datagram;
}

// The chain of datagrams from `first` on, each announcing the next, or nothing when the frame
// ends inside one. The length in the EtherCAT header plays no part, as it plays none for a
// slave controller.
std::optional<std::vector<PlacedDatagram>> datagramChain(const Bytes &frame, std::size_t first)
{
    std::vector<PlacedDatagram> chain;
    for (std::size_t at = first;;) {
        if (at + datagramHeaderSize + workingCounterSize > frame.size())
            return std::nullopt;
        const uint16_t lengthField = le16(frame.data() + at + datagramLengthAt);
        const std::size_t dataSize = lengthField & datagramLengthMask;
        if (at + datagramHeaderSize + dataSize + workingCounterSize > frame.size())
            return std::nullopt;
        chain.push_back({at, datagramAt(frame, at, dataSize)});
        if ((lengthField & moreDatagramsFollow) == 0)
            return chain;
        at += datagramHeaderSize + dataSize + workingCounterSize;
    }
}

// What serving changed (the address, the data, the working counter) goes into the frame in the
// datagram's place; every other bit of the frame passes as it came.
void putBack(Bytes &frame, const PlacedDatagram &placed)
{
    const Datagram &datagram = placed.datagram;
    putLe16(frame, placed.at + datagramAdpAt, datagram.position);
    std::copy(datagram.data.begin(), datagram.data.end(), frame.begin() + long(placed.at + datagramHeaderSize));
    putLe16(frame, placed.at + datagramHeaderSize + datagram.data.size(), datagram.workingCounter);
}

}

// Every frame passes the slave's processing unit, which marks it in the source address (bit 1
// of its first byte) and, in an EtherCAT frame of type 1, serves each datagram in passing; an
// EtherCAT frame of another type passes untouched. As the last slave on its segment the slave
// sends the frame back to the master. It destroys (and counts in its processing unit error
// counter) a frame shorter than the Ethernet minimum, an EtherCAT frame that ends inside a
// datagram, whose datagrams then change nothing, and, while the forwarding rule of DL control
// says so, a frame of another protocol.
std::optional<Bytes> Coupler::answer(const Bytes &frame)
{
    if (frame.size() < shortestFrame)
        return destroy();
    const auto header = ethercatHeaderAt(frame);
    if (!header && (m_memory[dlControlRegister] & forwardingRuleDestroys))
        return destroy();
    Bytes passed = frame;
    passed[sourceAddressAt] |= returnedFrameMacBit;
    if (!header || le16(frame.data() + *header) >> frameTypeShift != frameTypeDatagrams)
        return passed;
    auto chain = datagramChain(frame, *header + frameHeaderSize);
    if (!chain)
        return destroy();
    for (PlacedDatagram &placed : *chain) {
        serve(placed.datagram);
        putBack(passed, placed);
    }
    if (m_writeMailboxFull) {
        m_writeMailboxFull = false;
        takeMailboxMessage();
    }
    return passed;
}

std::optional<Bytes> Coupler::destroy()
{
    uint8_t &errors = m_memory[processingUnitErrorCounter];
    if (errors < 0xFF)
        ++errors;
    return std::nullopt;
}

// A configured address reaches the slave by its station address, or by the alias from the
// EEPROM while DL control enables that.
bool Coupler::stationMatches(uint16_t address) const
{
    const bool aliasEnabled = m_memory[dlControlAliasByte] & stationAliasEnabled;
    return address == le16(m_memory.data() + Register::stationAddress)
        || (aliasEnabled && address == le16(m_memory.data() + stationAliasRegister));
}

namespace {

// What a datagram asks of the one slave on the segment.
enum class Access { None, Read, Write, ReadWrite };

Access accessFor(const Datagram &datagram, bool atStation)
{
    // Of FRMW and ARMW the addressed slave reads, every other one writes what it read.
    if (datagram.command == FRMW)
        return atStation ? Access::Read : Access::Write;
    const bool first = datagram.position == 0;   // auto-increment address of this slave
    switch (datagram.command) {
    case Command::APRD: return first ? Access::Read : Access::None;
    case Command::APWR: return first ? Access::Write : Access::None;
    case Command::APRW: return first ? Access::ReadWrite : Access::None;
    case Command::FPRD: return atStation ? Access::Read : Access::None;
    case Command::FPWR: return atStation ? Access::Write : Access::None;
    case Command::FPRW: return atStation ? Access::ReadWrite : Access::None;
    case Command::BRD: return Access::Read;
    case Command::BWR: return Access::Write;
    case Command::BRW: return Access::ReadWrite;
    case Command::ARMW: return first ? Access::Read : Access::Write;
    }
    return Access::None;   // no operation, and logical addresses, which no FMMU maps here
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

bool readsByOr(Command command)
{
    return command == Command::BRD || command == Command::BRW;
}

}

// The working counter grows by 1 for a read, 1 for a write and 3 for a read-write served.
void Coupler::serve(Datagram &datagram)
{
    const Access access = accessFor(datagram, stationMatches(datagram.position));
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
        readInto(datagram);
        datagram.workingCounter += 1;
        break;
    case Access::Write:
        write(datagram.offset, datagram.data);
        datagram.workingCounter += 1;
        break;
    case Access::ReadWrite: {
        const Bytes written = datagram.data;
        readInto(datagram);
        write(datagram.offset, written);
        datagram.workingCounter += 3;
        break;
    }
    case Access::None:
        break;
    }
}

// A read puts the memory into the datagram; a broadcast read ORs it into what the slaves before
// put there.
void Coupler::readInto(Datagram &datagram)
{
    const Bytes memory = read(datagram.offset, datagram.data.size());
    const bool broadcast = readsByOr(datagram.command);
    for (std::size_t i = 0; i < memory.size(); ++i)
        datagram.data[i] = broadcast ? uint8_t(datagram.data[i] | memory[i]) : memory[i];
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

Bytes Coupler::read(uint16_t offset, std::size_t length)
{
    refreshStatus();
    Bytes data(m_memory.begin() + offset, m_memory.begin() + long(offset + length));
    const uint32_t busyByte = Register::eepromControl + 1;
    if (m_eepromBusyLeft > 0 && covers(offset, length, busyByte)) {
        --m_eepromBusyLeft;
        data[busyByte - offset] |= uint8_t(eepromBusy >> 8);
    }
    const uint16_t mailboxLength = syncManagerLength(1);
    if (m_readMailboxFull && syncManagerEnabled(1) && mailboxLength > 0
        && covers(offset, length, uint32_t(syncManagerStart(1)) + mailboxLength - 1)) {
        if (readMailboxFits())
            m_lastRead.assign(m_memory.begin() + syncManagerStart(1),
                              m_memory.begin() + syncManagerStart(1) + mailboxLength);
        m_readMailboxFull = false;
        loadNextReply();
    }
    return data;
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
        if (settingOfEnabledSyncManager(address)) {
            dropped = true;
            continue;
        }
        storeRegisterByte(address, data[i]);
    }
    if (covers(offset, data.size(), Register::alControl))
        receiveAlControl(le16(m_memory.data() + Register::alControl));
    if (covers(offset, data.size(), Register::eepromConfig))
        eepromOwnerChanged();
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

// The activate byte follows the settings, so within one datagram the settings see the sync
// manager as it was when the datagram arrived.
bool Coupler::settingOfEnabledSyncManager(uint32_t address) const
{
    const uint32_t inSyncManager = (address - Register::syncManager0) % Register::syncManagerSize;
    return inSyncManagers(address) && inSyncManager < syncManagerSettingBytes
        && syncManagerEnabled(int((address - Register::syncManager0) / Register::syncManagerSize));
}

// A write of any value clears an error counter; elsewhere only the bits the master may write
// change.
void Coupler::storeRegisterByte(uint32_t address, uint8_t value)
{
    if (within(address, errorCountersStart, errorCountersEnd - errorCountersStart)) {
        m_memory[address] = 0;
        return;
    }
    const uint8_t writable = writableBits(address);
    m_memory[address] = uint8_t((m_memory[address] & ~writable) | (value & writable));
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

// The master offers the EEPROM to the slave's firmware, which takes it, or takes it back; forcing
// takes it back whatever the firmware does. Who has it shows in the PDI access state.
void Coupler::eepromOwnerChanged()
{
    const uint8_t config = m_memory[Register::eepromConfig];
    m_eepromWithMaster = (config & eepromOfferedToPdi) == 0 || (config & eepromForcedToEcat) != 0;
    m_memory[eepromPdiAccess] = m_eepromWithMaster ? 0 : pdiHasEeprom;
}

// A command written to EEPROM control runs at once; its bits clear when it is done and the error
// bits tell how it went. The EEPROM takes commands only from the side that has it.
void Coupler::runEepromCommand()
{
    const uint16_t control = le16(m_memory.data() + Register::eepromControl);
    const uint16_t command = control & eepromCommandBits;
    if (command == 0)
        return;
    putLe16(m_memory, Register::eepromControl,
            m_eepromWithMaster ? executeEepromCommand(command, control) : eepromCommandError);
}

// Reads two words, writes one (with the write enable bit) or reloads the controller's
// configuration; addresses wrap at the end of the EEPROM. The status the command leaves.
uint16_t Coupler::executeEepromCommand(uint16_t command, uint16_t control)
{
    const uint32_t word = le32(m_memory.data() + Register::eepromAddress);
    const auto at = [this](uint32_t address) -> uint16_t & { return m_eeprom[address % m_eeprom.size()]; };
    switch (command) {
    case eepromCommandRead:
        m_record.eepromReads.push_back(uint16_t(word));
        m_eepromBusyLeft = faults.eepromBusyPolls;
        for (uint32_t i = 0; i < 2; ++i)
            putLe16(m_memory, Register::eepromData + 2 * i, at(word + i));
        return 0;
    case eepromCommandWrite:
        if ((control & eepromWriteEnable) == 0)
            return eepromWriteEnableError;
        at(word) = le16(m_memory.data() + Register::eepromData);
        return 0;
    case eepromCommandReload:
        return loadEscConfiguration() ? 0 : eepromChecksumError;
    default:
        return eepromCommandError;
    }
}

namespace {

// CoE: the CoE header with the service in its top four bits, then the SDO's command, index,
// subindex and four bytes of data or size.
constexpr std::size_t coeHeaderSize = 2;
constexpr unsigned coeServiceShift = 12;
constexpr std::size_t sdoHeaderSize = 8;
constexpr std::size_t sdoCommandAt = mailboxHeaderSize + coeHeaderSize;
constexpr std::size_t sdoDataAt = sdoCommandAt + 4;
constexpr std::size_t sdoExpeditedBytes = 4;
constexpr uint8_t sdoSpecifierMask = 0xE0;
constexpr uint8_t sdoInitiateDownload = 0x20;
constexpr uint8_t sdoInitiateUpload = 0x40;
constexpr uint8_t sdoAbortSpecifier = 0x80;
constexpr uint8_t sdoCompleteAccess = 0x10;
constexpr uint8_t sdoExpedited = 0x02;
constexpr uint8_t sdoSizeIndicated = 0x01;
constexpr unsigned sdoUnusedBytesShift = 2;
constexpr uint8_t sdoUnusedBytesMask = 0x03;
constexpr uint8_t sdoExpeditedUploadResponse = 0x43;
// A mailbox error: mailbox type 0, then the error service and the error's detail.
constexpr uint8_t mailboxTypeError = 0;
constexpr std::size_t mailboxErrorSize = 4;
constexpr uint16_t mailboxErrorService = 0x0001;

enum class EntryAccess { ReadOnly, WriteOnly };

struct ObjectEntry {
    uint16_t index;
    uint8_t subIndex;
    EntryAccess access;
    uint8_t size;
    uint32_t value;
};

constexpr uint32_t deviceTypeWithoutProfile = 0;
constexpr uint8_t identityEntries = 4;

// The object dictionary: the device type, the identity, and the vendor's boot request object.
constexpr ObjectEntry objectDictionary[] = {
    {0x1000, 0, EntryAccess::ReadOnly, 4, deviceTypeWithoutProfile},
    {0x1018, 0, EntryAccess::ReadOnly, 1, identityEntries},
    {0x1018, 1, EntryAccess::ReadOnly, 4, simulatedVendorId},
    {0x1018, 2, EntryAccess::ReadOnly, 4, simulatedProductCode},
    {0x1018, 3, EntryAccess::ReadOnly, 4, simulatedRevision},
    {0x1018, 4, EntryAccess::ReadOnly, 4, simulatedSerialNumber},
    {bootRequestIndex, 0, EntryAccess::ReadOnly, 1, bootRequestSubIndex},
    {bootRequestIndex, bootRequestSubIndex, EntryAccess::WriteOnly, 4, 0},
};

const ObjectEntry *findEntry(uint16_t index, uint8_t subIndex)
{
    for (const ObjectEntry &entry : objectDictionary)
        if (entry.index == index && entry.subIndex == subIndex)
            return &entry;
    return nullptr;
}

bool objectExists(uint16_t index)
{
    return std::any_of(std::begin(objectDictionary), std::end(objectDictionary),
                       [index](const ObjectEntry &entry) { return entry.index == index; });
}

// An expedited request carries up to four bytes (all four when it gives no size); a normal one
// gives the size, then the bytes that fit into its message.
SdoDownloadRequest downloadRequest(const Bytes &message)
{
    const uint8_t command = message[sdoCommandAt];
    const bool sizeIndicated = command & sdoSizeIndicated;
    const auto data = message.begin() + sdoDataAt;
    if (command & sdoExpedited) {
        const std::size_t size = sdoExpeditedBytes
            - (sizeIndicated ? (command >> sdoUnusedBytesShift) & sdoUnusedBytesMask : 0);
        return {sizeIndicated ? std::optional<std::size_t>(size) : std::nullopt, Bytes(data, data + long(size))};
    }
    const std::size_t carried = readMailboxHeader(message)->length - coeHeaderSize - sdoHeaderSize;
    const std::size_t size = sizeIndicated ? le32(message.data() + sdoDataAt) : carried;
    const auto value = data + sdoExpeditedBytes;
    return {size, Bytes(value, value + long(std::min(size, carried)))};
}

Bytes expeditedUploadResponse(const ObjectEntry &entry, uint8_t counter)
{
    Bytes message(Coe::sdoMessageSize, 0);
    putMailboxHeader(message, {uint16_t(Coe::sdoMessageSize - mailboxHeaderSize), 0, 0, mailboxTypeCoe, counter});
    putLe16(message, mailboxHeaderSize, uint16_t(Coe::serviceSdoResponse << coeServiceShift));
    message[sdoCommandAt] = uint8_t(sdoExpeditedUploadResponse | (sdoExpeditedBytes - entry.size) << sdoUnusedBytesShift);
    putLe16(message, sdoCommandAt + 1, entry.index);
    message[sdoCommandAt + 3] = entry.subIndex;
    putLe32(message, sdoDataAt, entry.value);
    return message;
}

}

uint8_t Coupler::nextCounter()
{
    m_counter = nextMailboxCounter(m_counter);
    return m_counter;
}

// A message of a protocol the slave does not have is answered by a mailbox error.
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
    else
        queueReply(mailboxError(mailboxErrorUnsupportedProtocol));
}

Bytes Coupler::mailboxError(uint16_t detail)
{
    Bytes message(mailboxHeaderSize + mailboxErrorSize, 0);
    putMailboxHeader(message, {uint16_t(mailboxErrorSize), 0, 0, mailboxTypeError, nextCounter()});
    putLe16(message, mailboxHeaderSize, mailboxErrorService);
    putLe16(message, mailboxHeaderSize + 2, detail);
    return message;
}

// Of CoE the slave serves SDO requests; a message too short for its headers, or of another CoE
// service, is answered by a mailbox error.
Bytes Coupler::handleCoe(const Bytes &message)
{
    const uint16_t length = readMailboxHeader(message)->length;
    if (length < coeHeaderSize)
        return mailboxError(mailboxErrorSizeTooShort);
    if (le16(message.data() + mailboxHeaderSize) >> coeServiceShift != Coe::serviceSdoRequest)
        return mailboxError(mailboxErrorServiceNotSupported);
    if (length < coeHeaderSize + sdoHeaderSize)
        return mailboxError(mailboxErrorSizeTooShort);
    return serveSdo(message);
}

// Uploads and downloads of single entries, in PRE-OP; every other request is aborted. A master
// that aborts a transfer gets no answer.
Bytes Coupler::serveSdo(const Bytes &message)
{
    const uint8_t command = message[sdoCommandAt];
    const uint16_t index = le16(message.data() + sdoCommandAt + 1);
    const uint8_t subIndex = message[sdoCommandAt + 3];
    const uint8_t specifier = command & sdoSpecifierMask;
    if (specifier == sdoAbortSpecifier)
        return {};
    std::optional<SdoDownloadRequest> download;
    if (specifier == sdoInitiateDownload)
        download = downloadRequest(message);
    if (download)
        m_record.sdoDownloads.push_back({index, subIndex, download->carried});
    if (m_state != PRE_OP)
        return sdoAbort(index, subIndex, sdoAbortDeviceState);
    if ((specifier == sdoInitiateDownload || specifier == sdoInitiateUpload) && (command & sdoCompleteAccess))
        return sdoAbort(index, subIndex, sdoAbortUnsupportedAccess);
    if (specifier == sdoInitiateUpload)
        return serveUpload(index, subIndex);
    if (download)
        return serveDownload(index, subIndex, *download);
    return sdoAbort(index, subIndex, sdoAbortCommandUnknown);
}

Bytes Coupler::serveUpload(uint16_t index, uint8_t subIndex)
{
    const ObjectEntry *entry = findEntry(index, subIndex);
    if (!entry)
        return sdoAbort(index, subIndex, objectExists(index) ? sdoAbortNoSubIndex : sdoAbortNoObject);
    if (entry->access == EntryAccess::WriteOnly)
        return sdoAbort(index, subIndex, sdoAbortWriteOnly);
    return expeditedUploadResponse(*entry, nextCounter());
}

// The value must have the entry's size, unless an expedited request gives none; writing the
// vendor's code into the boot request object opens the way from PRE-OP to BOOT.
Bytes Coupler::serveDownload(uint16_t index, uint8_t subIndex, const SdoDownloadRequest &request)
{
    const ObjectEntry *entry = findEntry(index, subIndex);
    if (!entry)
        return sdoAbort(index, subIndex, objectExists(index) ? sdoAbortNoSubIndex : sdoAbortNoObject);
    if (entry->access == EntryAccess::ReadOnly)
        return sdoAbort(index, subIndex, sdoAbortReadOnly);
    const std::size_t size = request.size.value_or(entry->size);
    if (size != entry->size)
        return sdoAbort(index, subIndex, size > entry->size ? sdoAbortLengthTooHigh : sdoAbortLengthTooLow);
    if (request.carried.size() < size)
        return mailboxError(mailboxErrorSizeTooShort);
    if (index == bootRequestIndex && subIndex == bootRequestSubIndex && le32(request.carried.data()) == bootRequestCode) {
        m_bootRequested = true;
        event("boot request");
    }
    return Coe::encodeDownloadResponse(index, subIndex, nextCounter());
}

Bytes Coupler::sdoAbort(uint16_t index, uint8_t subIndex, uint32_t code)
{
    return Coe::encodeAbort(index, subIndex, code, nextCounter());
}

// The boot loader's FoE server takes a file written to it in BOOT; outside BOOT every request is
// refused as one for BOOT only. It has no file to be read. A master that gives a transfer up
// with an error message gets no answer.
Bytes Coupler::handleFoe(const Bytes &message)
{
    const auto foe = Foe::decode(message);
    if (!foe || foe->opCode == Foe::Error)
        return {};
    if (m_state != BOOT)
        return foeError(foeErrorBootstrapOnly);
    switch (foe->opCode) {
    case Foe::Write: return foeWriteRequest(*foe);
    case Foe::Data: return foeData(foe->word, foe->payload);
    case Foe::Read: return foeError(foeErrorNotFound);
    default: return foeError(foeErrorIllegal);
    }
}

Bytes Coupler::foeWriteRequest(const Foe::Message &request)
{
    m_record.foeFileName.assign(request.payload.begin(), request.payload.end());
    m_record.foePassword = request.word;
    ++m_record.foeWriteRequests;
    m_record.file.clear();
    m_record.file.reserve(largestFile);
    m_record.fileComplete = false;
    m_expectedPacket = 1;
    m_busyLeft = faults.busyReplies;
    event("foe write " + m_record.foeFileName);
    if (faults.foeErrorCode && faults.foeErrorAtPacket == 0)
        return foeError(faults.foeErrorCode);
    return Foe::encode({nextCounter(), Foe::Ack, 0, {}});
}

Bytes Coupler::foeError(uint32_t code)
{
    return Foe::encode({nextCounter(), Foe::Error, code, {}});
}

Bytes Coupler::foeData(uint32_t packet, const Bytes &segment)
{
    if (packet != m_expectedPacket)
        return foeError(foeErrorPacketNumberWrong);
    if (m_busyLeft > 0) {
        --m_busyLeft;
        ++m_record.busyAnswers;
        return Foe::encode({nextCounter(), Foe::Busy, 0, {}});
    }
    if (faults.coeReplyAtPacket == int(packet))
        return sdoAbort(bootRequestIndex, bootRequestSubIndex, sdoAbortDeviceState);
    if (faults.foeErrorCode && faults.foeErrorAtPacket == int(packet))
        return foeError(faults.foeErrorCode);
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
