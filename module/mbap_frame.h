#pragma once

// The MBAP header that opens every Modbus TCP frame: transaction identifier, protocol identifier
// (0 for Modbus), length and unit identifier, the 16-bit fields big-endian. The length counts
// the bytes after the length field: the unit identifier and the PDU. The client, the simulated
// coupler and the test peers all frame with these.
#include <cstdint>
#include <vector>

namespace Mbap {

constexpr int kHeaderBytes = 7;
constexpr int kLengthPrefixBytes = 6;   // transaction, protocol and length: what the length omits
constexpr int kMaxFrameBytes = 260;     // the largest Modbus TCP frame

struct Header {
    uint16_t transactionId = 0;
    uint16_t protocolId = 0;
    uint16_t length = 0;
    uint8_t unitId = 0;
};

// Writes `header` into the first kHeaderBytes of `into`.
void encodeHeader(const Header &header, uint8_t *into);
// Reads the header from the first kHeaderBytes of `bytes`.
Header decodeHeader(const uint8_t *bytes);
// The size of the whole frame, header included, that its first kLengthPrefixBytes announce.
int frameBytes(const uint8_t *lengthPrefix);
// The whole frame that carries `pdu` (function code first).
std::vector<uint8_t> frame(uint16_t transactionId, uint8_t unitId, const std::vector<uint8_t> &pdu);

}
