#pragma once

#include "ethercat/mailbox_area.h"

#include <cstdint>
#include <string>
#include <vector>

// The SII EEPROM content of the simulated coupler, word by word: the ESC configuration area the
// slave controller loads at power-up, the fixed area with identity, bootstrap and standard
// mailboxes and the mailbox protocols, then the categories a master reads for the device name,
// the device's protocols and ports, and the mailbox sync managers. The EEPROM is the smallest
// of 2^n Kbit that holds all of it; the words after the end category read as erased.
namespace SimEthercat {

using Ethercat::MailboxArea;

struct SiiIdentity {
    uint8_t pdiControl = 0;        // the process data interface the controller starts with
    uint32_t vendorId = 0;
    uint32_t productCode = 0;
    uint32_t revision = 0;
    uint32_t serialNumber = 0;
    std::string name;
    MailboxArea bootstrapMailbox;
    MailboxArea standardMailbox;
    uint16_t mailboxProtocols = 0;
    uint8_t coeDetails = 0;
    uint8_t foeDetails = 0;
    uint8_t generalFlags = 0;
    uint16_t physicalPorts = 0;    // 4 bits a port, port 0 lowest
};

// SII word addresses and the values of their fields.
namespace Sii {
constexpr uint16_t pdiControl = 0x0000;          // low byte: register 0x0140, high byte: 0x0141
constexpr uint16_t stationAlias = 0x0004;
constexpr uint16_t configChecksum = 0x0007;
constexpr uint16_t vendorId = 0x0008;
constexpr uint16_t productCode = 0x000A;
constexpr uint16_t revision = 0x000C;
constexpr uint16_t serialNumber = 0x000E;
constexpr uint16_t bootstrapMailbox = 0x0014;
constexpr uint16_t standardMailbox = 0x0018;
constexpr uint16_t mailboxProtocols = 0x001C;
constexpr uint16_t eepromSize = 0x003E;
constexpr uint16_t version = 0x003F;
constexpr uint16_t firstCategory = 0x0040;
constexpr uint16_t categoryStrings = 10;
constexpr uint16_t categoryGeneral = 30;
constexpr uint16_t categorySyncManagers = 41;
constexpr uint16_t categoryEnd = 0xFFFF;
constexpr uint16_t protocolCoe = 0x0004;
constexpr uint16_t protocolFoe = 0x0008;
constexpr uint8_t pdiSpi = 0x05;
constexpr uint8_t coeSdoEnabled = 0x01;
constexpr uint8_t foeEnabled = 0x01;
constexpr uint8_t flagMailboxDataLinkLayer = 0x04;  // the mailbox counter and repeat request
constexpr uint16_t portMii = 0x1;
}

std::vector<uint16_t> siiImage(const SiiIdentity &identity);

// The CRC-8 (polynomial x^8 + x^2 + x + 1, start 0xFF) that word 7 carries over words 0 to 6.
uint8_t siiConfigChecksum(const std::vector<uint16_t> &words);

}
