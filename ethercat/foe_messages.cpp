#include "ethercat/foe_messages.h"

namespace Ethercat::Foe {

Bytes encode(const Message &message)
{
    Bytes bytes(mailboxOverhead + message.payload.size(), 0);
    putMailboxHeader(bytes, {uint16_t(foeHeaderSize + message.payload.size()), 0, 0,
                             mailboxTypeFoe, message.counter});
    bytes[6] = message.opCode;
    putLe32(bytes, 8, message.word);
    std::copy(message.payload.begin(), message.payload.end(), bytes.begin() + mailboxOverhead);
    return bytes;
}

std::optional<Message> decode(const Bytes &mailbox)
{
    const auto header = readMailboxHeader(mailbox);
    if (!header || header->type != mailboxTypeFoe || header->length < foeHeaderSize)
        return std::nullopt;
    Message message;
    message.counter = header->counter;
    message.opCode = mailbox[6];
    message.word = le32(mailbox.data() + 8);
    message.payload.assign(mailbox.begin() + mailboxOverhead,
                           mailbox.begin() + mailboxHeaderSize + header->length);
    return message;
}

Bytes writeRequest(const std::string &fileName, uint32_t password, uint8_t counter)
{
    return encode({counter, Write, password, Bytes(fileName.begin(), fileName.end())});
}

Bytes dataMessage(uint32_t packet, const uint8_t *data, std::size_t size, uint8_t counter)
{
    return encode({counter, Data, packet, Bytes(data, data + size)});
}

}
