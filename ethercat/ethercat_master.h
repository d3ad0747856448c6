#pragma once

#include "ethercat/al_state.h"
#include "ethercat/ethercat_link.h"
#include "ethercat/mailbox_area.h"
#include "ethercat/reply_window.h"
#include "core/deadline.h"

#include <array>
#include <chrono>
#include <initializer_list>
#include <optional>

namespace Ethercat {

constexpr int maximumSlaves = 16;
constexpr int noFrame = -1;  // working-counter result when no frame came back

// A sync manager record as the ESC holds it at 0x0800 + 8 n: start address, length, and the
// flags control (byte 0), status, activate (byte 2, bit 0 enables it) and PDI control.
struct SyncManagerRecord {
    uint16_t StartAddr = 0;
    uint16_t SMlength = 0;
    uint32_t SMflags = 0;
    Bytes bytes() const;
    // The record as read from the slave, with the bytes only the master writes (control and
    // activate): status and PDI control are the slave's and change with every message.
    static SyncManagerRecord fromRegisters(const uint8_t *record);
    bool enabled() const { return (SMflags >> 16) & syncManagerEnable; }
    uint8_t control() const { return uint8_t(SMflags); }
    static constexpr uint8_t syncManagerEnable = 0x01;
};
// PDI control byte (+7) of a sync manager: bit 0 set when the slave's own side has switched it off.
constexpr uint8_t syncManagerDeactivatedByPdi = 0x01;
constexpr uint32_t syncManagerFlagsMailboxWrite = 0x00010026;
constexpr uint32_t syncManagerFlagsMailboxRead = 0x00010022;
// SII words of the two mailboxes, each a receive entry followed by a send entry (offset and size,
// two words each): the bootstrap mailbox, which a boot loader may need in BOOT, and the standard one.
constexpr uint16_t siiBootstrapReceiveMailbox = 0x0014;
constexpr uint16_t siiStandardReceiveMailbox = 0x0018;

// What the master keeps for one slave; index 0 of the slave list stands for the master.
struct Slave {
    uint16_t state = 0;
    uint16_t configadr = 0;
    SyncManagerRecord SM[2];
    uint16_t mbx_wo = 0;  // write mailbox (master to slave) start and length
    uint16_t mbx_l = 0;
    uint16_t mbx_ro = 0;  // read mailbox start and length
    uint16_t mbx_rl = 0;
    uint8_t mbx_cnt = 0;
    uint8_t mbx_rcnt = 0;  // counter of the last message read from the slave
    uint16_t alStatusCode = 0;  // as ec_detect or the last awaitState found it; 0 without an error
    // AL status and status code just before the last requestState, so that an error indication
    // left from earlier is not taken for a refusal of the new request.
    std::optional<uint32_t> statusBeforeRequest;
    bool eepromWithMaster = false;
};

// What a mailbox exchange achieved: the working counter of the message's write and of the
// reply's read (each 0 or less when that part failed).
struct MailboxExchange {
    int sent = 0;
    int received = 0;
};

// The least EtherCAT master a firmware download needs: one segment on one adapter, slaves
// addressed by position and by the station address it gives them, their SII EEPROM, the AL
// state machine, and the mailbox with CoE expedited download.
class Master
{
public:
    // `opener` is how ec_init opens adapters (tests run the master against a simulated segment).
    explicit Master(LinkOpener opener = defaultLinkOpener()) : m_opener(std::move(opener)) {}
    void setLinkOpener(LinkOpener opener) { m_opener = std::move(opener); }

    int ec_init(const char *adapter);
    int ec_config_init(bool useTable);
    // Counts the slaves and reads their AL status and status code by position, writing nothing
    // that changes a slave: no station address, no state, no sync manager. The SII can then be
    // read with ec_readeeprom (its EEPROM is taken for the master).
    int ec_detect();
    uint16_t ec_statecheck(uint16_t slave, uint16_t requestedState, int timeoutUs);
    int ec_writestate(uint16_t slave);
    // Notes AL status and status code, then writes `control` (a state, with alAcknowledge to
    // clear an error indication) to AL control; returns the working counter of that write.
    int requestState(uint16_t slave, uint16_t control);
    // Waits like ec_statecheck for the state of the last requestState, but gives up as soon as
    // the slave shows that it refused it: an error indication, in AL status and code other than
    // those noted before the request. The status stays in state, its code in alStatusCode.
    uint16_t awaitState(uint16_t slave, uint16_t requestedState, int timeoutUs);
    uint32_t ec_readeeprom(uint16_t slave, uint16_t wordAddress, int timeoutUs);
    int ec_APRD(uint16_t position, uint16_t offset, uint16_t length, void *data, int timeoutUs);
    int ec_APWR(uint16_t position, uint16_t offset, uint16_t length, const void *data, int timeoutUs);
    int ec_FPRD(uint16_t station, uint16_t offset, uint16_t length, void *data, int timeoutUs);
    int ec_FPWR(uint16_t station, uint16_t offset, uint16_t length, const void *data, int timeoutUs);
    int ec_BRD(uint16_t offset, uint16_t length, void *data, int timeoutUs);
    int ec_BWR(uint16_t offset, uint16_t length, const void *data, int timeoutUs);
    int ec_SDOwrite(uint16_t slave, uint16_t index, uint8_t subIndex, bool completeAccess,
                    int size, const void *data, int timeoutUs);
    // The mailbox the SII describes from `receiveEntryWord` on (siiBootstrapReceiveMailbox or
    // siiStandardReceiveMailbox), its receive entry read first; empty when it cannot be read.
    MailboxArea readSiiMailbox(uint16_t slave, uint16_t receiveEntryWord, int timeoutUs);
    // Reads sync managers 0 and 1 into SM[] and takes the mailbox they describe for every later
    // message; true when both are enabled, so the slave has a mailbox.
    bool readMailbox(uint16_t slave);
    // Gives the slave the mailbox `area`. A slave controller takes a new start, length or control
    // only while the sync manager is disabled: a sync manager that differs is disabled in a
    // datagram of its own, written, then enabled; one that is right already is left alone. The
    // mailbox is read back; true when the slave has `area`.
    bool setMailbox(uint16_t slave, const MailboxArea &area);
    void ec_clearmbx(Bytes &mailbox) const;
    int ec_mbxsend(uint16_t slave, const Bytes &mailbox, int timeoutUs);
    int ec_mbxreceive(uint16_t slave, Bytes &mailbox, int timeoutUs);
    // Sends a mailbox message and reads the slave's reply to it.
    MailboxExchange mailboxExchange(uint16_t slave, const Bytes &message, Bytes &reply,
                                    int sendTimeoutUs, int receiveTimeoutUs);
    static uint8_t ec_nextmbxcnt(uint8_t counter);
    void ec_close();

    std::array<Slave, maximumSlaves + 1> ec_slave{};
    int ec_slavecount = 0;
    // Frames sent since ec_init (0 without an open adapter).
    long framesSent() const;

private:
    // A datagram on its way. Every copy of it goes under an index of its own, so that a late
    // reply to an earlier copy still answers it and tells how long the segment really took.
    struct Awaited {
        explicit Awaited(Datagram *sent) : datagram(sent) {}

        Datagram *datagram;
        uint8_t firstIndex = 0;
        int copies = 0;
        std::chrono::steady_clock::time_point firstSent;
        std::chrono::steady_clock::time_point lastSent;
        bool arrived = false;

        bool answeredBy(const Datagram &reply) const;
        // How long the copy that `reply` answers took, where it is known which copy that was.
        std::optional<std::chrono::microseconds> roundTripOf(const Datagram &reply) const;
    };

    // Sends the datagram, and again each time the reply window passes without its reply, until
    // the time-out runs out; a send the adapter refuses is tried again after a short pause.
    // `resent` tells whether more than one copy went out.
    int transact(Datagram &datagram, int timeoutUs, bool *resent = nullptr);
    // Sends one more copy under a new index; false when the adapter refused it.
    bool send(Awaited &awaited);
    // Takes the replies of `pending` as they come back until all are in or `until` has passed;
    // frames of given-up datagrams are dropped.
    void awaitReplies(std::initializer_list<Awaited *> pending, Deadline until);
    Deadline replyWindowFromNow() const;
    int readRegister(Command command, uint16_t position, uint16_t offset, uint16_t length,
                     void *data, int timeoutUs);
    int writeRegister(Command command, uint16_t position, uint16_t offset, uint16_t length,
                      const void *data, int timeoutUs);
    bool takeEeprom(uint16_t slave);
    bool waitEepromIdle(uint16_t slave, int timeoutUs, uint16_t &status);
    int readSlave(uint16_t slave, uint16_t offset, uint16_t length, void *data);
    int writeSlave(uint16_t slave, uint16_t offset, uint16_t length, const void *data);
    void configureMailbox(uint16_t slave);
    void rewriteSyncManager(uint16_t slave, uint16_t number, const SyncManagerRecord &record, uint8_t activate);
    std::optional<uint32_t> readAlStatus(uint16_t slave);
    uint16_t pollState(uint16_t slave, uint16_t requestedState, int timeoutUs, bool untilRefused);
    static bool isRepeatOfLastMessage(Slave &source, const Bytes &message);
    void requestMailboxRepeat(uint16_t slave, Deadline deadline);

    LinkOpener m_opener;
    std::unique_ptr<Link> m_link;
    uint8_t m_index = 0;
    ReplyWindow m_replyWindow;
};


}
