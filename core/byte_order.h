#pragma once

// 16- and 32-bit values in byte buffers, whatever the host's own byte order: little-endian for
// the boot protocols, CANopen and EtherCAT, big-endian for Modbus. Header-only; the protocol code
// of every page shares these.

#include <cstdint>

inline uint16_t le16(const uint8_t *bytes)
{
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

inline uint32_t le32(const uint8_t *bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8
        | static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

inline void putLe16(uint8_t *bytes, uint16_t value)
{
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

inline void putLe32(uint8_t *bytes, uint32_t value)
{
    putLe16(bytes, static_cast<uint16_t>(value));
    putLe16(bytes + 2, static_cast<uint16_t>(value >> 16));
}

inline uint16_t be16(const uint8_t *bytes)
{
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

inline void putBe16(uint8_t *bytes, uint16_t value)
{
    bytes[0] = static_cast<uint8_t>(value >> 8);
    bytes[1] = static_cast<uint8_t>(value);
}
