#include "modbus/mbap_frame.h"

#include "core/byte_order.h"

#include <cstring>

namespace Mbap {

namespace {

constexpr int kProtocolOffset = 2;
constexpr int kLengthOffset = 4;
constexpr int kUnitOffset = 6;

}

void encodeHeader(const Header &header, uint8_t *into)
{
    putBe16(into, header.transactionId);
    putBe16(into + kProtocolOffset, header.protocolId);
    putBe16(into + kLengthOffset, header.length);
    into[kUnitOffset] = header.unitId;
}

Header decodeHeader(const uint8_t *bytes)
{
    return {be16(bytes), be16(bytes + kProtocolOffset), be16(bytes + kLengthOffset),
            bytes[kUnitOffset]};
}

int frameBytes(const uint8_t *lengthPrefix)
{
    return kLengthPrefixBytes + be16(lengthPrefix + kLengthOffset);
}

std::vector<uint8_t> frame(uint16_t transactionId, uint8_t unitId, const std::vector<uint8_t> &pdu)
{
    std::vector<uint8_t> bytes(kHeaderBytes);
    encodeHeader({transactionId, 0, static_cast<uint16_t>(pdu.size() + 1), unitId}, bytes.data());
    bytes.insert(bytes.end(), pdu.begin(), pdu.end());
    return bytes;
}

int frameLengthFromHeader(const uint8_t *header)
{
    const int total = frameBytes(header);
    if (total - kLengthPrefixBytes < kMinReplyLength || total > kMaxFrameBytes)
        return -1;
    return total;
}

namespace {

bool readExactly(const ByteSource &source, uint8_t *into, int wanted, bool firstRead)
{
    int got = 0;
    while (got < wanted) {
        const int n = source(into + got, wanted - got, firstRead && got == 0);
        if (n <= 0)
            return false;
        got += n;
    }
    return true;
}

void discardPending(const ByteSource &source)
{
    uint8_t sink[kMaxFrameBytes];
    while (source(sink, sizeof sink, false) > 0) {
    }
}

}

int readFrame(const ByteSource &source, uint8_t *frame)
{
    uint8_t received[kMaxFrameBytes];
    if (!readExactly(source, received, kLengthPrefixBytes, true))
        return -1;
    const int total = frameLengthFromHeader(received);
    if (total < 0) {
        discardPending(source);
        return -1;
    }
    if (!readExactly(source, received + kLengthPrefixBytes, total - kLengthPrefixBytes, false))
        return -1;
    std::memcpy(frame, received, static_cast<size_t>(total));
    return total;
}

}
