#include "coupler_can/sdo_messages.h"

#include "core/byte_order.h"

#include <cstdio>

namespace {

PassThroughFrame::SdoRecord request(uint8_t nodeId, uint8_t command, uint16_t index,
                                    uint8_t subIndex, uint32_t value)
{
    std::array<uint8_t, 8> sdo{command};
    putLe16(&sdo[1], index);
    sdo[3] = subIndex;
    putLe32(&sdo[4], value);
    // The node ID's low byte goes to byte 0 and 0x06 to byte 1, so node IDs above 255 could not
    // be addressed; CANopen node IDs end at 127.
    return PassThroughFrame::sdoRecord(
        static_cast<uint16_t>(PassThroughFrame::sdoRequestIdentifierBase + nodeId), sdo);
}

std::string timeoutMessage(const char *format, uint16_t index, uint8_t subIndex)
{
    char text[48];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(index),
                  static_cast<unsigned>(subIndex));
    return text;
}

}

PassThroughFrame::SdoRecord SdoMessages::downloadRequest(uint8_t nodeId, uint16_t index,
                                                         uint8_t subIndex, uint32_t value)
{
    return request(nodeId, initiateDownloadExpedited4, index, subIndex, value);
}

PassThroughFrame::SdoRecord SdoMessages::uploadRequest(uint8_t nodeId, uint16_t index,
                                                       uint8_t subIndex)
{
    return request(nodeId, initiateUpload, index, subIndex, 0);
}

uint32_t SdoMessages::replyValue(const uint8_t *reply)
{
    return le32(reply + valueOffset);
}

std::string SdoMessages::downloadTimeoutMessage(uint16_t index, uint8_t subIndex)
{
    return timeoutMessage("Index: %4x, SubIndex: %2x", index, subIndex);
}

std::string SdoMessages::uploadTimeoutMessage(uint16_t index, uint8_t subIndex)
{
    return timeoutMessage("Index: %4x, SubIndex: %x", index, subIndex);
}
