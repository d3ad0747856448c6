#pragma once

#include "ethercat/coe_sdo.h"
#include "ethercat/ethercat_datagram.h"

#include <chrono>
#include <deque>
#include <functional>
#include <string>

// A simulated EtherCAT coupler: one slave with its register space, station address, SII
// EEPROM, AL state machine with BOOT, mailbox sync managers, CoE expedited download (the boot
// request lives there) and the boot loader's FoE write server, which keeps the file it got.
namespace SimEthercat {

using Ethercat::Bytes;

constexpr uint16_t writeMailboxStart = 0x1000;
constexpr uint16_t readMailboxStart = 0x1800;
constexpr uint16_t maximumMailboxSize = 0x0800;
constexpr uint16_t defaultMailboxSize = 128;
constexpr uint16_t bootRequestIndex = 0x5000;
constexpr uint8_t bootRequestSubIndex = 3;
constexpr uint32_t bootRequestCode = 0x4E7A2C15;
constexpr uint16_t alErrorIndication = 0x0010;
constexpr uint16_t alStatusInvalidStateChange = 0x0011;
constexpr uint32_t sdoAbortNoObject = 0x06020000;
constexpr uint32_t sdoAbortDeviceState = 0x08000022;
constexpr uint32_t foeErrorPacketNumberWrong = 0x8005;
constexpr uint32_t foeErrorNotInBootstrap = 0x8009;

struct Faults {
    bool neverBoot = false;
    bool silentMailbox = false;        // mailbox messages are taken but never answered
    uint32_t foeErrorCode = 0;         // answer with this FoE error ...
    int foeErrorAtPacket = 0;          // ... to this data packet (0: to the write request)
    bool wrongAckPacket = false;       // acknowledge every data packet with number + 1
    int coeReplyAtPacket = 0;        // answer this data packet with a CoE message, not FoE
    int busyReplies = 0;               // busy answers to the first data packet before it is taken
    int bootDelayMs = 0;               // BOOT is reported this long after it was requested
};

struct Record {
    std::vector<uint16_t> alControlWrites;
    std::vector<uint16_t> eepromReads;        // word addresses
    std::vector<uint16_t> syncManagerWrites;  // register addresses of written records
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
    explicit Coupler(uint16_t mailboxSize = defaultMailboxSize, bool startInBoot = false);

    // The frame as it leaves the slave, or nothing when it is no EtherCAT frame.
    std::optional<Bytes> answer(const Bytes &frame);

    uint16_t state();
    const Record &record() const { return m_record; }
    Faults faults;
    // Called when the boot loader has received a complete file.
    std::function<void(const Record &)> onFileStored;
    std::function<void(const std::string &)> onEvent;

private:
    using Clock = std::chrono::steady_clock;

    void serve(Ethercat::Datagram &datagram);
    void read(uint16_t offset, Bytes &data);
    void write(uint16_t offset, const Bytes &data);
    void requestState(uint16_t control);
    void runEepromCommand();
    void takeMailboxMessage();
    bool touchesReadMailbox(uint16_t offset, std::size_t length) const;
    bool readMailboxFits() const;
    void serveRepeatRequest();
    Bytes handleCoe(const Bytes &message);
    Bytes handleFoe(const Bytes &message);
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
    uint16_t m_state;
    uint16_t m_statusCode = 0;
    bool m_bootRequested = false;
    bool m_bootPending = false;
    Clock::time_point m_bootAt;
    bool m_eepromWithMaster = false;
    std::deque<Bytes> m_replies;
    bool m_readMailboxFull = false;
    Bytes m_lastRead;                 // the last message the master read, for a repeat request
    uint8_t m_lastCounterTaken = 0;
    uint8_t m_counter = 0;
    uint32_t m_expectedPacket = 1;
    int m_busyLeft = 0;
    Record m_record;
};

}
