#include "ethercat/mailbox_header.h"

namespace Ethercat {

void putMailboxHeader(Bytes &message, const MailboxHeader &header)
{
    if (message.size() < mailboxHeaderSize)
        message.resize(mailboxHeaderSize);
    putLe16(message, 0, header.length);
    putLe16(message, 2, header.address);
    message[4] = header.channel;
    message[5] = uint8_t((header.type & 0x0F) | (header.counter << 4));
}

std::optional<MailboxHeader> readMailboxHeader(const Bytes &message)
{
    if (message.size() < mailboxHeaderSize)
        return std::nullopt;
    MailboxHeader header;
    header.length = le16(message.data());
    header.address = le16(message.data() + 2);
    header.channel = message[4];
    header.type = message[5] & 0x0F;
    header.counter = (message[5] >> 4) & 0x07;
    if (mailboxHeaderSize + header.length > message.size())
        return std::nullopt;
    return header;
}

uint8_t nextMailboxCounter(uint8_t counter)
{
    ++counter;
    return counter > mailboxCounterLast ? mailboxCounterFirst : counter;
}

}

namespace Ethercat {
void setMailboxCounter(Bytes &message, uint8_t counter)
{
    if (message.size() >= mailboxHeaderSize)
        message[5] = uint8_t((message[5] & 0x0F) | (counter << 4));
}
}
