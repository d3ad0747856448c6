#include "sim/ethercat_sii_image.h"

#include <algorithm>

namespace SimEthercat {

namespace {
constexpr uint16_t siiVersion = 1;
constexpr std::size_t wordsPerKbit = 64;
constexpr uint16_t erasedWord = 0xFFFF;
constexpr std::size_t configAreaBytes = 14;
// The General category: 32 bytes, of which these are the simulated device's.
constexpr std::size_t generalCategoryBytes = 32;
constexpr std::size_t generalNameIndex = 3;
constexpr std::size_t generalCoeDetails = 5;
constexpr std::size_t generalFoeDetails = 6;
constexpr std::size_t generalFlags = 11;
constexpr std::size_t generalPhysicalPorts = 16;
constexpr uint8_t nameStringIndex = 1;
constexpr uint8_t syncManagerTypeMailboxOut = 1;
constexpr uint8_t syncManagerTypeMailboxIn = 2;
constexpr uint8_t syncManagerControlMailboxWrite = 0x26;
constexpr uint8_t syncManagerControlMailboxRead = 0x22;
constexpr uint8_t syncManagerEnable = 0x01;

void put32(std::vector<uint16_t> &words, uint16_t at, uint32_t value)
{
    words[at] = uint16_t(value);
    words[at + 1] = uint16_t(value >> 16);
}

void putMailbox(std::vector<uint16_t> &words, uint16_t at, const MailboxArea &area)
{
    words[at] = area.receiveStart;
    words[at + 1] = area.receiveSize;
    words[at + 2] = area.sendStart;
    words[at + 3] = area.sendSize;
}

// Bytes packed little-endian into words; an odd byte count is padded with 0.
std::vector<uint16_t> packed(const std::vector<uint8_t> &bytes)
{
    std::vector<uint16_t> words((bytes.size() + 1) / 2, 0);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        words[i / 2] |= uint16_t(bytes[i] << (i % 2 ? 8 : 0));
    return words;
}

void appendCategory(std::vector<uint16_t> &words, uint16_t type, const std::vector<uint8_t> &content)
{
    const std::vector<uint16_t> body = packed(content);
    words.push_back(type);
    words.push_back(uint16_t(body.size()));
    words.insert(words.end(), body.begin(), body.end());
}

std::vector<uint8_t> stringsCategory(const std::string &name)
{
    std::vector<uint8_t> content = {1, uint8_t(std::min<std::size_t>(name.size(), 255))};
    content.insert(content.end(), name.begin(), name.begin() + content[1]);
    return content;
}

std::vector<uint8_t> generalCategory(const SiiIdentity &identity)
{
    std::vector<uint8_t> content(generalCategoryBytes, 0);
    content[generalNameIndex] = nameStringIndex;
    content[generalCoeDetails] = identity.coeDetails;
    content[generalFoeDetails] = identity.foeDetails;
    content[generalFlags] = identity.generalFlags;
    content[generalPhysicalPorts] = uint8_t(identity.physicalPorts);
    content[generalPhysicalPorts + 1] = uint8_t(identity.physicalPorts >> 8);
    return content;
}

std::vector<uint8_t> syncManagerEntry(uint16_t start, uint16_t size, uint8_t control, uint8_t type)
{
    return {uint8_t(start), uint8_t(start >> 8), uint8_t(size), uint8_t(size >> 8),
            control, 0, syncManagerEnable, type};
}

std::vector<uint8_t> syncManagersCategory(const MailboxArea &standard)
{
    std::vector<uint8_t> content = syncManagerEntry(standard.receiveStart, standard.receiveSize,
                                                    syncManagerControlMailboxWrite, syncManagerTypeMailboxOut);
    const auto send = syncManagerEntry(standard.sendStart, standard.sendSize,
                                       syncManagerControlMailboxRead, syncManagerTypeMailboxIn);
    content.insert(content.end(), send.begin(), send.end());
    return content;
}

// The image padded to the smallest EEPROM of 2^n Kbit that holds it, whose size word 0x003E
// gives as Kbit - 1.
void fillEeprom(std::vector<uint16_t> &words)
{
    std::size_t kbit = 1;
    while (kbit * wordsPerKbit < words.size())
        kbit *= 2;
    words[Sii::eepromSize] = uint16_t(kbit - 1);
    words.resize(kbit * wordsPerKbit, erasedWord);
}
}

uint8_t siiConfigChecksum(const std::vector<uint16_t> &words)
{
    uint8_t crc = 0xFF;
    for (std::size_t i = 0; i < configAreaBytes; ++i) {
        crc ^= uint8_t(words[i / 2] >> (i % 2 ? 8 : 0));
        for (int bit = 0; bit < 8; ++bit)
            crc = uint8_t(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

std::vector<uint16_t> siiImage(const SiiIdentity &identity)
{
    std::vector<uint16_t> words(Sii::firstCategory, 0);
    words[Sii::pdiControl] = identity.pdiControl;
    words[Sii::configChecksum] = siiConfigChecksum(words);
    put32(words, Sii::vendorId, identity.vendorId);
    put32(words, Sii::productCode, identity.productCode);
    put32(words, Sii::revision, identity.revision);
    put32(words, Sii::serialNumber, identity.serialNumber);
    putMailbox(words, Sii::bootstrapMailbox, identity.bootstrapMailbox);
    putMailbox(words, Sii::standardMailbox, identity.standardMailbox);
    words[Sii::mailboxProtocols] = identity.mailboxProtocols;
    words[Sii::version] = siiVersion;
    appendCategory(words, Sii::categoryStrings, stringsCategory(identity.name));
    appendCategory(words, Sii::categoryGeneral, generalCategory(identity));
    appendCategory(words, Sii::categorySyncManagers, syncManagersCategory(identity.standardMailbox));
    words.push_back(Sii::categoryEnd);
    fillEeprom(words);
    return words;
}

}
