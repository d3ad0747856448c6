#pragma once

#include "modbus/mbap_frame.h"

#include <cstdint>

// The Modbus TCP frame of the coupler's pass-through function 109, which carries a module's
// boot-loader bytes; its replies are framed by their MBAP header (Mbap::readFrame).
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
constexpr int kBootBytesOverhead = 5;         // unit, function, 0, sub-function, count
constexpr int kMaxBootBytes = 249;            // keeps the request within 254 raw bytes
constexpr int kRequestBufferBytes = 1024;

}
