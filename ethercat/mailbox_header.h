#pragma once

#include "ethercat/ethercat_datagram.h"

namespace Ethercat {

// The 6-byte header in front of every mailbox message: payload length, station address,
// channel/priority, and the protocol type with the mailbox counter in its high nibble.
constexpr std::size_t mailboxHeaderSize = 6;
constexpr uint8_t mailboxTypeCoe = 3;
constexpr uint8_t mailboxTypeFoe = 4;
constexpr uint8_t mailboxCounterFirst = 1;
constexpr uint8_t mailboxCounterLast = 7;

struct MailboxHeader {
    uint16_t length = 0;  // bytes after the header
    uint16_t address = 0;
    uint8_t channel = 0;
    uint8_t type = 0;
    uint8_t counter = 0;
};

void putMailboxHeader(Bytes &message, const MailboxHeader &header);
// Nothing when the buffer is shorter than the header or than the length it announces.
std::optional<MailboxHeader> readMailboxHeader(const Bytes &message);
// The counter after `counter`: 1, 2, ... 7, then 1 again (0 is never used).
uint8_t nextMailboxCounter(uint8_t counter);

}

namespace Ethercat {
// Gives an already built message a new counter (a message sent again carries a fresh one).
void setMailboxCounter(Bytes &message, uint8_t counter);
}
