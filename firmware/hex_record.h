#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// One line of Intel HEX text: ':' then pairs of hexadecimal digits for byte count, address (high
// byte first), record type, data and checksum, all bytes summing to 0 modulo 256.
namespace HexRecord {

constexpr uint8_t DataRecordType = 0x00;
constexpr uint8_t EndOfFileRecordType = 0x01;
constexpr int MaxDataBytes = 16;
// ':' + count, address, type, 16 data bytes and checksum as hexadecimal pairs.
constexpr size_t LongestSixteenByteRecord = 43;
// Byte count, two address bytes and the record type.
constexpr size_t FieldsBeforeData = 4;

// True when the whole line is ':' followed by at least one hexadecimal digit. Anything else
// (blank lines, comments, trailing blanks) is not a record and is skipped.
bool looksLikeRecord(std::string_view line);

// Decodes the digit pairs after ':'. False when the length is even (half a pair) or the line
// holds more than `maxBytes` pairs.
bool decode(std::string_view line, size_t maxBytes, std::vector<uint8_t> &bytes);

enum class LineKind {
    NotARecord,    // looksLikeRecord is false
    Undecodable,   // looks like a record, but decode fails
    Decoded,       // looks like a record and `bytes` holds its decoded pairs
};

// looksLikeRecord and decode together, in one pass over a line that is a record.
LineKind decodeLine(std::string_view line, size_t maxBytes, std::vector<uint8_t> &bytes);

// True when the bytes sum to 0 modulo 256.
bool checksumIsZero(const std::vector<uint8_t> &bytes);

}
