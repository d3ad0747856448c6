#pragma once

#include "module/mbap_frame.h"

#include <cstdint>
#include <functional>

// The Modbus TCP frame of the coupler's pass-through function 109, which carries a module's
// boot-loader bytes. libmodbus does not know this function code and would read only one byte
// after it, so a reply is framed here by the length field of its MBAP header.
namespace PassThroughFrame {

constexpr uint8_t kUnitIdentifier = 1;        // the pass-through requests carry their own unit
constexpr uint8_t kFunctionCode = 109;        // 0x6D, user-defined
constexpr uint8_t kSubTargetControl = 1;
constexpr uint8_t kSubBootBytes = 2;
constexpr uint8_t kSubFinish = 3;
constexpr uint8_t kMarkerSelect = 0xAA;
constexpr uint8_t kMarkerRelease = 0x55;
constexpr uint8_t kReleaseValue = 1;          // target control (1, 0x55) releases the module
constexpr uint8_t kFinishFirst = 0x55;
constexpr uint8_t kFinishSecond = 0xAA;

constexpr int kMaxFrameBytes = Mbap::kMaxFrameBytes;
constexpr int kAnswerOffset = 11;             // header 7, function code, three skipped bytes
constexpr int kMinLength = 3;                 // unit, function code and one byte
constexpr int kBootBytesOverhead = 5;         // unit, function, 0, sub-function, count
constexpr int kMaxBootBytes = 249;            // keeps the request within 254 raw bytes
constexpr int kRequestBufferBytes = 1024;

// Total frame length announced by the first six bytes, or -1 when the length field cannot
// belong to a pass-through reply (shorter than a function code plus one byte, or beyond 260).
int frameLengthFromHeader(const uint8_t *header);

// Reads up to `wanted` bytes into `into`; returns how many arrived before the wait ran out
// (0 on time-out or a closed connection). The first read of a frame may wait the response
// time-out, every later one the byte time-out.
using ByteSource = std::function<int(uint8_t *into, int wanted, bool firstRead)>;

// Reads exactly one framed reply into `frame` (kMaxFrameBytes). Returns its length, or -1 when
// no complete frame came; then `frame` is left unchanged. A frame with an impossible length is
// refused and whatever of it has arrived is discarded.
int readFramedReply(const ByteSource &source, uint8_t *frame);

}
