#pragma once

#include "ethercat/mailbox_header.h"

#include <string>

// FoE (file access over EtherCAT) messages: op-code, a reserved byte, one 32-bit word
// (password, packet number or error code), then the file name or the data.
namespace Ethercat::Foe {

constexpr std::size_t foeHeaderSize = 6;
// Payload room of one mailbox message: mailbox header plus FoE header.
constexpr std::size_t mailboxOverhead = mailboxHeaderSize + foeHeaderSize;

enum OpCode : uint8_t { Read = 1, Write = 2, Data = 3, Ack = 4, Error = 5, Busy = 6 };

// The "not found" error code, which this tool tells apart from all others.
constexpr uint32_t errorNotFound = 0x8001;

struct Message {
    uint8_t counter = 0;
    uint8_t opCode = 0;
    uint32_t word = 0;  // password, packet number or error code
    Bytes payload;
};

Bytes encode(const Message &message);
// Nothing when it is not a complete FoE mailbox message.
std::optional<Message> decode(const Bytes &mailbox);

Bytes writeRequest(const std::string &fileName, uint32_t password, uint8_t counter);
Bytes dataMessage(uint32_t packet, const uint8_t *data, std::size_t size, uint8_t counter);

}
