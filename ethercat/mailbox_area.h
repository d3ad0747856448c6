#pragma once

#include <cstdint>

namespace Ethercat {

// Where a slave's mailbox lies: the write mailbox (master to slave, sync manager 0) and the read
// mailbox (slave to master, sync manager 1), each a start address and a size.
struct MailboxArea {
    uint16_t receiveStart = 0;
    uint16_t receiveSize = 0;
    uint16_t sendStart = 0;
    uint16_t sendSize = 0;

    // From the SII's two 32-bit entries of a mailbox: the offset in the low, the size in the high half.
    static constexpr MailboxArea fromSii(uint32_t receiveEntry, uint32_t sendEntry)
    {
        return {uint16_t(receiveEntry), uint16_t(receiveEntry >> 16), uint16_t(sendEntry), uint16_t(sendEntry >> 16)};
    }
    bool empty() const { return receiveSize == 0 || sendSize == 0; }
    bool operator==(const MailboxArea &other) const
    {
        return receiveStart == other.receiveStart && receiveSize == other.receiveSize
            && sendStart == other.sendStart && sendSize == other.sendSize;
    }
};

}
