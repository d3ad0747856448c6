#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// One CAN frame on the coupler's USB serial stream: identifier (16 bits, little-endian), data
// length, data. There is no start mark, end mark or checksum; records are told apart only by the
// length the reader expects, and nothing in a received record is checked.
struct PassThroughFrame {
    static constexpr size_t headerSize = 3;
    // Identifier, length 8 and eight data bytes: every SDO request and reply.
    static constexpr size_t sdoRecordSize = headerSize + 8;
    // Identifier, length 1 and one data byte: the frame the user firmware sends when it starts.
    static constexpr size_t guardRecordSize = headerSize + 1;
    static constexpr uint16_t sdoRequestIdentifierBase = 0x600;
    static constexpr uint16_t sdoReplyIdentifierBase = 0x580;
    static constexpr size_t guardDataOffset = 3;

    using SdoRecord = std::array<uint8_t, sdoRecordSize>;
    using GuardRecord = std::array<uint8_t, guardRecordSize>;

    // A record of identifier `identifier`, length 8 and the eight bytes `data`.
    static SdoRecord sdoRecord(uint16_t identifier, const std::array<uint8_t, 8> &data);
    static uint16_t identifier(const uint8_t *record);
};
