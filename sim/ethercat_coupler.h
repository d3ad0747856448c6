#pragma once

#include "ethercat/al_state.h"
#include "ethercat/coe_sdo.h"
#include "ethercat/ethercat_datagram.h"
#include "ethercat/foe_messages.h"
#include "sim/ethercat_sii_image.h"

#include <chrono>
#include <deque>
#include <functional>
#include <string>

// A simulated EtherCAT coupler: one slave with its register space, station address, SII
// EEPROM, AL state machine with BOOT, mailbox sync managers, a CoE SDO server with the identity
// and the boot request, and the boot loader's FoE write server, which keeps the file it got.
// Frames pass it as they pass a slave controller that is the last one on its segment.
namespace SimEthercat {

using Ethercat::Bytes;

// The standard mailbox (PRE-OP, CoE) and the bootstrap mailbox (BOOT, FoE) lie apart, as on
// devices whose boot loader brings a larger mailbox of its own; the size of the bootstrap one is
// chosen when the coupler is made.
constexpr MailboxArea standardMailbox{0x1000, 128, 0x1080, 128};
constexpr uint16_t bootstrapWriteMailbox = 0x1800;
constexpr uint16_t bootstrapReadMailbox = 0x2000;
constexpr uint16_t maximumMailboxSize = 0x0800;
constexpr uint16_t defaultMailboxSize = 128;
constexpr uint32_t simulatedVendorId = 0xE0007A21;
constexpr uint32_t simulatedProductCode = 0x00000702;
constexpr uint32_t simulatedRevision = 0x00010007;
constexpr uint32_t simulatedSerialNumber = 1;
constexpr char simulatedName[] = "Tarnlow simulated EtherCAT coupler";
constexpr uint16_t bootRequestIndex = 0x5000;
constexpr uint8_t bootRequestSubIndex = 3;
constexpr uint32_t bootRequestCode = 0x4E7A2C15;
using Ethercat::alErrorIndication;
using Ethercat::alStatusInvalidStateChange;
constexpr uint16_t alStatusInvalidBootMailbox = Ethercat::alStatusInvalidBootstrapMailbox;
using Ethercat::alStatusInvalidMailbox;
// SDO abort codes.
constexpr uint32_t sdoAbortCommandUnknown = 0x05040001;
constexpr uint32_t sdoAbortUnsupportedAccess = 0x06010000;
constexpr uint32_t sdoAbortWriteOnly = 0x06010001;
constexpr uint32_t sdoAbortReadOnly = 0x06010002;
constexpr uint32_t sdoAbortNoObject = 0x06020000;
constexpr uint32_t sdoAbortLengthTooHigh = 0x06070012;
constexpr uint32_t sdoAbortLengthTooLow = 0x06070013;
constexpr uint32_t sdoAbortNoSubIndex = 0x06090011;
constexpr uint32_t sdoAbortDeviceState = 0x08000022;
// Mailbox error replies (mailbox type 0) to what the slave cannot take.
constexpr uint16_t mailboxErrorUnsupportedProtocol = 0x0002;
constexpr uint16_t mailboxErrorServiceNotSupported = 0x0004;
constexpr uint16_t mailboxErrorSizeTooShort = 0x0006;
// FoE error codes.
constexpr uint32_t foeErrorNotFound = 0x8001;
constexpr uint32_t foeErrorIllegal = 0x8004;
constexpr uint32_t foeErrorPacketNumberWrong = 0x8005;
constexpr uint32_t foeErrorBootstrapOnly = 0x8008;

struct Faults {
    bool neverBoot = false;
    bool silentMailbox = false;        // mailbox messages are taken but never answered
    uint32_t foeErrorCode = 0;         // answer with this FoE error ...
    int foeErrorAtPacket = 0;          // ... to this data packet (0: to the write request)
    bool wrongAckPacket = false;       // acknowledge every data packet with number + 1
    int coeReplyAtPacket = 0;        // answer this data packet with a CoE message, not FoE
    int busyReplies = 0;               // busy answers to the first data packet before it is taken
    int bootDelayMs = 0;               // BOOT is reported this long after it was requested
    bool staysInBoot = false;          // BOOT is left only by switching the coupler off
    int alControlDelayMs = 0;          // every AL control write is taken this long after it came
    int eepromBusyPolls = 0;           // an EEPROM read shows busy to this many polls first
};

// Which mailbox the boot loader works with in BOOT. Entered from INIT, the standard way, BOOT
// always needs the bootstrap mailbox; entered from PRE-OP after the boot request, a boot loader
// of the Standard kind keeps the standard mailbox the slave has there.
enum class BootMailbox { Bootstrap, Standard };

// A write by the master into the registers of sync manager 0 or 1. A slave controller drops what
// is written to start, length or control of an enabled sync manager (the datagram still counts).
struct SyncManagerWrite {
    uint16_t offset = 0;
    Bytes data;
    bool dropped = false;
};

// An SDO initiate download as the slave takes it: the size it gives for the value (none for an
// expedited one that gives none) and the bytes of the value it carries.
struct SdoDownloadRequest {
    std::optional<std::size_t> size;
    Bytes carried;
};

struct Record {
    std::vector<uint16_t> alControlWrites;
    std::vector<uint16_t> eepromReads;        // word addresses
    std::vector<SyncManagerWrite> syncManagerWrites;
    std::vector<Ethercat::Coe::SdoDownload> sdoDownloads;
    std::vector<uint8_t> mailboxCounters;     // of every message the master sent
    std::string foeFileName;
    uint32_t foePassword = 0;
    int foeWriteRequests = 0;
    std::vector<uint32_t> foePackets;         // packet numbers of the data messages taken
    std::vector<std::size_t> foeSegmentSizes;
    int busyAnswers = 0;
    int repeatRequests = 0;            // read-mailbox repeats the master asked for
    int repeatedMessagesIgnored = 0;   // mailbox messages that came again with the same counter
    Bytes file;
    bool fileComplete = false;
};

class Coupler
{
public:
    // `mailboxSize` is the size of each bootstrap mailbox. A coupler that starts in BOOT has the
    // sync managers set to the mailbox its boot loader works with.
    explicit Coupler(uint16_t mailboxSize = defaultMailboxSize, bool startInBoot = false,
                     BootMailbox bootMailbox = BootMailbox::Bootstrap);
    MailboxArea bootstrapMailbox() const;

    // The frame as it leaves the slave towards the master, or nothing when the slave destroys it.
    std::optional<Bytes> answer(const Bytes &frame);

    uint16_t state();
    const Record &record() const { return m_record; }
    Faults faults;
    // Called when the boot loader has received a complete file.
    std::function<void(const Record &)> onFileStored;
    std::function<void(const std::string &)> onEvent;

private:
    using Clock = std::chrono::steady_clock;

    bool loadEscConfiguration();
    std::optional<Bytes> destroy();
    bool stationMatches(uint16_t address) const;
    void serve(Ethercat::Datagram &datagram);
    void readInto(Ethercat::Datagram &datagram);
    Bytes read(uint16_t offset, std::size_t length);
    void write(uint16_t offset, const Bytes &data);
    bool settingOfEnabledSyncManager(uint32_t address) const;
    void storeRegisterByte(uint32_t address, uint8_t value);
    void receiveAlControl(uint16_t control);
    void requestState(uint16_t control);
    void enterIfMailboxFits(uint16_t state, const MailboxArea &mailbox, uint16_t refusal);
    void eepromOwnerChanged();
    void runEepromCommand();
    uint16_t executeEepromCommand(uint16_t command, uint16_t control);
    void takeMailboxMessage();
    bool mailboxConfiguredAs(const MailboxArea &area) const;
    void setSyncManagers(const MailboxArea &area);
    bool syncManagerEnabled(int n) const;
    void recordSyncManagerWrite(uint16_t offset, const Bytes &data, bool dropped);
    void syncManagerDisabled(int n);
    bool writesToFullMailbox(const Ethercat::Datagram &datagram) const;
    bool touchesReadMailbox(uint16_t offset, std::size_t length) const;
    bool readMailboxFits() const;
    void serveRepeatRequest();
    Bytes handleCoe(const Bytes &message);
    Bytes serveSdo(const Bytes &message);
    Bytes serveUpload(uint16_t index, uint8_t subIndex);
    Bytes serveDownload(uint16_t index, uint8_t subIndex, const SdoDownloadRequest &request);
    Bytes sdoAbort(uint16_t index, uint8_t subIndex, uint32_t code);
    Bytes mailboxError(uint16_t detail);
    Bytes handleFoe(const Bytes &message);
    Bytes foeWriteRequest(const Ethercat::Foe::Message &request);
    Bytes foeError(uint32_t code);
    Bytes foeData(uint32_t packet, const Bytes &segment);
    void queueReply(Bytes reply);
    void loadNextReply();
    void refreshStatus();
    uint8_t nextCounter();
    uint16_t syncManagerStart(int n) const;
    uint16_t syncManagerLength(int n) const;
    void event(const std::string &text);

    Bytes m_memory;
    std::vector<uint16_t> m_eeprom;
    uint16_t m_mailboxSize;
    BootMailbox m_bootMailbox;
    uint16_t m_state;
    uint16_t m_statusCode = 0;
    bool m_bootRequested = false;
    bool m_bootPending = false;
    std::optional<uint16_t> m_controlPending;
    Clock::time_point m_controlAt;
    Clock::time_point m_bootAt;
    bool m_eepromWithMaster = true;   // the EtherCAT side has the EEPROM after power-up
    int m_eepromBusyLeft = 0;
    std::deque<Bytes> m_replies;
    bool m_readMailboxFull = false;
    // The slave's firmware takes a written message only after the frame has passed it.
    bool m_writeMailboxFull = false;
    Bytes m_lastRead;                 // the last message the master read, for a repeat request
    uint8_t m_lastCounterTaken = 0;
    uint8_t m_counter = 0;
    uint32_t m_expectedPacket = 1;
    int m_busyLeft = 0;
    Record m_record;
};

}
