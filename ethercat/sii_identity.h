#pragma once

// A slave's identity from its SII EEPROM: the identity words and the device name of the General
// category, looked up in the Strings category.
#include "ethercat/ethercat_master.h"

#include <cstdint>
#include <functional>
#include <string>

namespace Ethercat {

constexpr uint16_t siiVendorId = 0x0008;
constexpr uint16_t siiProductCode = 0x000A;
constexpr uint16_t siiRevision = 0x000C;
constexpr uint16_t siiSerialNumber = 0x000E;
constexpr uint16_t siiFirstCategory = 0x0040;
constexpr uint16_t siiCategoryStrings = 10;
constexpr uint16_t siiCategoryGeneral = 30;
constexpr uint16_t siiCategoryEnd = 0xFFFF;
// Where the walk through the categories gives up: past the largest SII a coupler carries.
constexpr uint16_t siiWordLimit = 0x2000;

struct SiiIdentity {
    uint32_t vendorId = 0;
    uint32_t productCode = 0;
    uint32_t revision = 0;
    uint32_t serialNumber = 0;
    std::string name;   // empty when the SII names none
};

// `word(address)` gives the SII word at `address`; only the words the identity needs are asked
// for (the identity words, the category headers, General and Strings), never past siiWordLimit.
SiiIdentity parseSiiIdentity(const std::function<uint16_t(uint16_t address)> &word);

// Reads the identity of the slave at `slave` through the master.
SiiIdentity readSiiIdentity(Master &master, uint16_t slave);

}
