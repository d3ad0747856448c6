#include "coupler_can/pass_through_frame.h"

PassThroughFrame::SdoRecord PassThroughFrame::sdoRecord(uint16_t identifier,
                                                        const std::array<uint8_t, 8> &data)
{
    SdoRecord record{};
    record[0] = static_cast<uint8_t>(identifier & 0xFF);
    record[1] = static_cast<uint8_t>(identifier >> 8);
    record[2] = static_cast<uint8_t>(data.size());
    for (size_t i = 0; i < data.size(); ++i)
        record[headerSize + i] = data[i];
    return record;
}

uint16_t PassThroughFrame::identifier(const uint8_t *record)
{
    return static_cast<uint16_t>(record[0] | (record[1] << 8));
}
