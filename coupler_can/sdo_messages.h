#pragma once

#include "coupler_can/pass_through_frame.h"

#include <cstdint>
#include <string>

// The expedited SDO messages the updater uses, as pass-through records.
namespace SdoMessages {

constexpr uint8_t initiateDownloadExpedited4 = 0x23;  // expedited, size indicated, 4 bytes
constexpr uint8_t initiateUpload = 0x40;
constexpr uint8_t downloadResponse = 0x60;
constexpr uint8_t uploadResponseExpedited4 = 0x43;
constexpr uint8_t abortTransfer = 0x80;
// Record byte 3 is the SDO command byte.
constexpr size_t commandOffset = 3;
// Record bytes 7 to 10 (SDO data bytes 4 to 7) carry the value of a download request and of
// every reply (an abort reply carries its abort code there).
constexpr size_t valueOffset = 7;

// Request to client-to-server identifier 0x600 + node ID, the value little-endian.
PassThroughFrame::SdoRecord downloadRequest(uint8_t nodeId, uint16_t index, uint8_t subIndex,
                                            uint32_t value);
PassThroughFrame::SdoRecord uploadRequest(uint8_t nodeId, uint16_t index, uint8_t subIndex);

// The value of any 11-byte reply: its last four bytes, little-endian. The command byte is not
// looked at, so an abort reply yields its abort code.
uint32_t replyValue(const uint8_t *reply);

// "Index: 5100, SubIndex:  6": index right-aligned in 4, subindex in 2 columns, lower-case hex.
std::string downloadTimeoutMessage(uint16_t index, uint8_t subIndex);
// "Index: 5101, SubIndex: 0": as above with the subindex not padded.
std::string uploadTimeoutMessage(uint16_t index, uint8_t subIndex);

}
