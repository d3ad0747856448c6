#include "module/mbap_frame.h"

namespace Mbap {

namespace {

constexpr int kProtocolOffset = 2;
constexpr int kLengthOffset = 4;
constexpr int kUnitOffset = 6;

void putBigEndian16(uint8_t *into, uint16_t value)
{
    into[0] = static_cast<uint8_t>(value >> 8);
    into[1] = static_cast<uint8_t>(value);
}

uint16_t bigEndian16(const uint8_t *bytes)
{
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

}

void encodeHeader(const Header &header, uint8_t *into)
{
    putBigEndian16(into, header.transactionId);
    putBigEndian16(into + kProtocolOffset, header.protocolId);
    putBigEndian16(into + kLengthOffset, header.length);
    into[kUnitOffset] = header.unitId;
}

Header decodeHeader(const uint8_t *bytes)
{
    return {bigEndian16(bytes), bigEndian16(bytes + kProtocolOffset), bigEndian16(bytes + kLengthOffset),
            bytes[kUnitOffset]};
}

int frameBytes(const uint8_t *lengthPrefix)
{
    return kLengthPrefixBytes + bigEndian16(lengthPrefix + kLengthOffset);
}

std::vector<uint8_t> frame(uint16_t transactionId, uint8_t unitId, const std::vector<uint8_t> &pdu)
{
    std::vector<uint8_t> bytes(kHeaderBytes);
    encodeHeader({transactionId, 0, static_cast<uint16_t>(pdu.size() + 1), unitId}, bytes.data());
    bytes.insert(bytes.end(), pdu.begin(), pdu.end());
    return bytes;
}

}
