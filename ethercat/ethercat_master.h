#pragma once

#include "ethercat/ethercat_link.h"
#include "platform/deadline.h"

#include <array>
#include <initializer_list>

namespace Ethercat {

enum State : uint16_t { INIT = 1, PRE_OP = 2, BOOT = 3, SAFE_OP = 4, OP = 8 };
constexpr uint16_t stateMask = 0x0F;
constexpr int maximumSlaves = 16;
constexpr int noFrame = -1;  // working-counter result when no frame came back

// A sync manager record as the ESC holds it at 0x0800 + 8 n.
struct SyncManagerRecord {
    uint16_t StartAddr = 0;
    uint16_t SMlength = 0;
    uint32_t SMflags = 0;
    Bytes bytes() const;
};
constexpr uint32_t syncManagerFlagsMailboxWrite = 0x00010026;
constexpr uint32_t syncManagerFlagsMailboxRead = 0x00010022;
// SII words of the bootstrap mailbox, which the slave's boot loader uses in BOOT: receive and
// send, each an offset and a size.
constexpr uint16_t siiBootstrapReceiveMailbox = 0x0014;
constexpr uint16_t siiBootstrapSendMailbox = 0x0016;

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
    uint16_t alStatusCode = 0;  // as ec_detect found it
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
    uint32_t ec_readeeprom(uint16_t slave, uint16_t wordAddress, int timeoutUs);
    int ec_APRD(uint16_t position, uint16_t offset, uint16_t length, void *data, int timeoutUs);
    int ec_APWR(uint16_t position, uint16_t offset, uint16_t length, const void *data, int timeoutUs);
    int ec_FPRD(uint16_t station, uint16_t offset, uint16_t length, void *data, int timeoutUs);
    int ec_FPWR(uint16_t station, uint16_t offset, uint16_t length, const void *data, int timeoutUs);
    int ec_BRD(uint16_t offset, uint16_t length, void *data, int timeoutUs);
    int ec_BWR(uint16_t offset, uint16_t length, const void *data, int timeoutUs);
    int ec_SDOwrite(uint16_t slave, uint16_t index, uint8_t subIndex, bool completeAccess,
                    int size, const void *data, int timeoutUs);
    // Sets the slave's mailbox sync managers to the two SII entries (offset in the low, size in
    // the high half) and takes them for the mailbox from now on.
    void applyMailbox(uint16_t slave, uint32_t receiveEntry, uint32_t sendEntry);
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
    // Sends the datagram, and again every few milliseconds until its reply comes or the
    // time-out runs out; `resent` tells whether it had to go more than once.
    int transact(Datagram &datagram, int timeoutUs, bool *resent = nullptr);
    bool sendDatagram(Datagram &datagram);
    void awaitReplies(std::initializer_list<Datagram *> pending, std::initializer_list<bool *> arrived,
                      Deadline until);
    int readRegister(Command command, uint16_t position, uint16_t offset, uint16_t length,
                     void *data, int timeoutUs);
    int writeRegister(Command command, uint16_t position, uint16_t offset, uint16_t length,
                      const void *data, int timeoutUs);
    bool takeEeprom(uint16_t slave);
    bool waitEepromIdle(uint16_t slave, int timeoutUs, uint16_t &status);
    int readSlave(uint16_t slave, uint16_t offset, uint16_t length, void *data);
    int writeSlave(uint16_t slave, uint16_t offset, uint16_t length, const void *data);
    void configureMailbox(uint16_t slave);
    static bool isRepeatOfLastMessage(Slave &source, const Bytes &message);
    void requestMailboxRepeat(uint16_t slave, Deadline deadline);

    LinkOpener m_opener;
    std::unique_ptr<Link> m_link;
    uint8_t m_index = 0;
};


}
