#pragma once

// The MBAP header that opens every Modbus TCP frame: transaction identifier, protocol identifier
// (0 for Modbus), length and unit identifier, the 16-bit fields big-endian. The length counts
// the bytes after the length field: the unit identifier and the PDU. The client, the simulated
// coupler and the test peers all frame with these.
#include <cstdint>
#include <functional>
#include <vector>

namespace Mbap {

constexpr int kHeaderBytes = 7;
constexpr int kLengthPrefixBytes = 6;   // transaction, protocol and length: what the length omits
constexpr int kMaxFrameBytes = 260;     // the largest Modbus TCP frame
constexpr int kMinReplyLength = 3;      // unit, function code and one byte

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


// Total frame length announced by the first six bytes, or -1 when the length field cannot
// belong to a reply (shorter than a function code plus one byte, or beyond 260).
int frameLengthFromHeader(const uint8_t *header);

// Reads up to `wanted` bytes into `into`; returns how many arrived before the wait ran out
// (0 on time-out or a closed connection). The first read of a frame may wait the response
// time-out, every later one the byte time-out.
using ByteSource = std::function<int(uint8_t *into, int wanted, bool firstRead)>;

// Reads exactly one reply frame into `frame` (kMaxFrameBytes), framed by the length field of its
// MBAP header: libmodbus does not know user-defined function codes and would read only one byte
// after them. Returns its length, or -1 when no complete frame came; then `frame` is left
// unchanged. A frame with an impossible length is refused and whatever of it has arrived is
// discarded.
int readFrame(const ByteSource &source, uint8_t *frame);

}
