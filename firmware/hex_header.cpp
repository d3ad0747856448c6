#include "firmware/hex_header.h"

namespace {

constexpr int HardwareVersionShift = 12;
// Each cut drops the comma and the blank after it.
constexpr size_t SeparatorLength = 2;

uint32_t parseHexadecimal(const std::string &text)
{
    if (text.empty())
        return 0;
    uint32_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return 0;
        if (value > 0x0FFFFFFFu)
            return 0;
        value = value << 4 | uint32_t(digit);
    }
    return value;
}

// The text after the first ", "; without a comma the cut starts at index 1, as the search's
// "not found" plus the separator length gives. False when the cut lies beyond the text.
bool cutAfterSeparator(std::string &text)
{
    const size_t comma = text.find(',');
    const size_t start = comma == std::string::npos ? 1 : comma + SeparatorLength;
    if (start > text.size())
        return false;
    text = text.substr(start);
    return true;
}

} // namespace

void parseHexHeader(const std::string &header, HexHeaderValues values)
{
    if (header.empty())
        return;
    values.productCode = parseHexadecimal(header.substr(0, header.find(',')));

    std::string rest = header;
    if (!cutAfterSeparator(rest) || rest.size() < 2)
        return;
    const char digit = rest[1];
    values.hardwareVersion = (digit >= '0' && digit <= '9' ? digit - '0' : 0) << HardwareVersionShift;

    if (!cutAfterSeparator(rest))
        return;
    const size_t equals = rest.find('=');
    if (equals != std::string::npos)
        rest = rest.substr(equals + 1);
    values.fixVectorChecksum = rest != "FALSE";
}
