#include "ethercat/sii_identity.h"

#include <algorithm>
#include <map>

namespace Ethercat {

namespace {

// The bytes of a category's data, taken word by word.
class CategoryBytes
{
public:
    // A category that claims to run past siiWordLimit is cut there.
    CategoryBytes(const std::function<uint16_t(uint16_t)> &word, uint16_t firstWord, uint16_t words)
        : m_word(word),
          m_first(firstWord),
          m_size(firstWord >= siiWordLimit ? 0 : std::min<uint32_t>(words, siiWordLimit - firstWord) * 2)
    {
    }
    bool has(uint32_t offset) const { return offset < m_size; }
    uint8_t at(uint32_t offset) const
    {
        const uint16_t value = m_word(uint16_t(m_first + offset / 2));
        return offset % 2 ? uint8_t(value >> 8) : uint8_t(value);
    }

private:
    const std::function<uint16_t(uint16_t)> &m_word;
    uint16_t m_first;
    uint32_t m_size;
};

uint32_t doubleWord(const std::function<uint16_t(uint16_t)> &word, uint16_t address)
{
    return word(address) | uint32_t(word(uint16_t(address + 1))) << 16;
}

// String n (from 1) of the Strings category: a count, then each string as a length and its bytes.
std::string stringAt(const CategoryBytes &strings, uint8_t index)
{
    if (index == 0 || !strings.has(0) || index > strings.at(0))
        return {};
    uint32_t offset = 1;
    for (uint8_t n = 1; n < index && strings.has(offset); ++n)
        offset += 1 + strings.at(offset);
    if (!strings.has(offset))
        return {};
    std::string text;
    const uint8_t length = strings.at(offset);
    for (uint32_t i = 1; i <= length && strings.has(offset + i); ++i)
        text += char(strings.at(offset + i));
    return text;
}

constexpr uint32_t generalNameIndexOffset = 3;

}

SiiIdentity parseSiiIdentity(const std::function<uint16_t(uint16_t address)> &word)
{
    SiiIdentity identity;
    identity.vendorId = doubleWord(word, siiVendorId);
    identity.productCode = doubleWord(word, siiProductCode);
    identity.revision = doubleWord(word, siiRevision);
    identity.serialNumber = doubleWord(word, siiSerialNumber);
    uint16_t stringsStart = 0, stringsWords = 0, nameIndex = 0;
    for (uint32_t header = siiFirstCategory; header + 1 < siiWordLimit;) {
        const uint16_t type = word(uint16_t(header));
        const uint16_t words = word(uint16_t(header + 1));
        if (type == siiCategoryEnd)
            break;
        const uint16_t data = uint16_t(header + 2);
        if (type == siiCategoryStrings) {
            stringsStart = data;
            stringsWords = words;
        } else if (type == siiCategoryGeneral) {
            const CategoryBytes general(word, data, words);
            nameIndex = general.has(generalNameIndexOffset) ? general.at(generalNameIndexOffset) : 0;
        }
        header = uint32_t(data) + words;
    }
    if (stringsWords > 0)
        identity.name = stringAt(CategoryBytes(word, stringsStart, stringsWords), uint8_t(nameIndex));
    return identity;
}

SiiIdentity readSiiIdentity(Master &master, uint16_t slave)
{
    constexpr int eepromTimeoutUs = 20000;
    // One EEPROM read gives two words; the pair is kept for the second of them.
    std::map<uint16_t, uint16_t> words;
    const auto word = [&](uint16_t address) -> uint16_t {
        const auto known = words.find(address);
        if (known != words.end())
            return known->second;
        const uint32_t pair = master.ec_readeeprom(slave, address, eepromTimeoutUs);
        words[address] = uint16_t(pair);
        words[uint16_t(address + 1)] = uint16_t(pair >> 16);
        return uint16_t(pair);
    };
    return parseSiiIdentity(word);
}

}
