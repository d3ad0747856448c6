#include "firmware/hex_record.h"

#include <array>

namespace {

constexpr uint8_t NotADigit = 0xFF;

// The value of every byte as a hexadecimal digit, NotADigit for the bytes that are none. A
// table, because a firmware file has a few million digits.
constexpr std::array<uint8_t, 256> DigitValues = [] {
    std::array<uint8_t, 256> values{};
    for (int c = 0; c < 256; ++c)
        values[size_t(c)] = c >= '0' && c <= '9'   ? uint8_t(c - '0')
                            : c >= 'a' && c <= 'f' ? uint8_t(c - 'a' + 10)
                            : c >= 'A' && c <= 'F' ? uint8_t(c - 'A' + 10)
                                                   : NotADigit;
    return values;
}();

uint8_t digitValue(char c)
{
    return DigitValues[static_cast<uint8_t>(c)];
}

} // namespace

namespace HexRecord {

// The same test as the regular expression "^:[0-9a-fA-F]+" over the whole line, without the
// recursion a regular expression engine would need for very long lines.
bool looksLikeRecord(std::string_view line)
{
    if (line.size() < 2 || line[0] != ':')
        return false;
    for (size_t i = 1; i < line.size(); ++i)
        if (digitValue(line[i]) == NotADigit)
            return false;
    return true;
}

bool decode(std::string_view line, size_t maxBytes, std::vector<uint8_t> &bytes)
{
    if (line.empty() || line.size() % 2 == 0)
        return false;
    const size_t pairs = (line.size() - 1) / 2;
    if (pairs > maxBytes)
        return false;
    bytes.resize(pairs);
    // A digit's value fits in four bits, NotADigit does not: one test after the loop finds any.
    uint8_t allDigits = 0;
    for (size_t i = 0; i < pairs; ++i) {
        const uint8_t high = digitValue(line[1 + 2 * i]);
        const uint8_t low = digitValue(line[2 + 2 * i]);
        allDigits |= high | low;
        bytes[i] = static_cast<uint8_t>(high << 4 | (low & 0x0F));
    }
    return (allDigits & 0xF0) == 0;
}

LineKind decodeLine(std::string_view line, size_t maxBytes, std::vector<uint8_t> &bytes)
{
    if (line.size() < 2 || line[0] != ':')
        return LineKind::NotARecord;
    if (decode(line, maxBytes, bytes))
        return LineKind::Decoded;
    return looksLikeRecord(line) ? LineKind::Undecodable : LineKind::NotARecord;
}

bool checksumIsZero(const std::vector<uint8_t> &bytes)
{
    uint8_t sum = 0;
    for (uint8_t byte : bytes)
        sum = static_cast<uint8_t>(sum + byte);
    return sum == 0;
}

}
