#include "firmware/hex_record.h"

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

namespace HexRecord {

// The same test as the regular expression "^:[0-9a-fA-F]+" over the whole line, without the
// recursion a regular expression engine would need for very long lines.
bool looksLikeRecord(const std::string &line)
{
    if (line.size() < 2 || line[0] != ':')
        return false;
    for (size_t i = 1; i < line.size(); ++i)
        if (hexValue(line[i]) < 0)
            return false;
    return true;
}

bool decode(const std::string &line, size_t maxBytes, std::vector<uint8_t> &bytes)
{
    if (line.empty() || line.size() % 2 == 0)
        return false;
    const size_t pairs = (line.size() - 1) / 2;
    if (pairs > maxBytes)
        return false;
    bytes.resize(pairs);
    for (size_t i = 0; i < pairs; ++i) {
        const int high = hexValue(line[1 + 2 * i]);
        const int low = hexValue(line[2 + 2 * i]);
        if (high < 0 || low < 0)
            return false;
        bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

bool checksumIsZero(const std::vector<uint8_t> &bytes)
{
    uint8_t sum = 0;
    for (uint8_t byte : bytes)
        sum = static_cast<uint8_t>(sum + byte);
    return sum == 0;
}

}
