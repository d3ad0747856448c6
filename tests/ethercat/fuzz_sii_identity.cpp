// Arbitrary bytes as a slave's SII EEPROM: the walk through its categories for the identity.
#include "ethercat/sii_identity.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<uint16_t> words(size / 2);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = uint16_t(data[2 * i] | data[2 * i + 1] << 8);
    // Beyond the bytes given the EEPROM reads as erased.
    Ethercat::parseSiiIdentity([&words](uint16_t address) {
        return address < words.size() ? words[address] : uint16_t(0xFFFF);
    });
    return 0;
}
