#include "coupler_can/pass_through_frame.h"

#include "core/byte_order.h"

PassThroughFrame::SdoRecord PassThroughFrame::sdoRecord(uint16_t identifier,
                                                        const std::array<uint8_t, 8> &data)
{
    SdoRecord record{};
    putLe16(record.data(), identifier);
    record[2] = static_cast<uint8_t>(data.size());
    for (size_t i = 0; i < data.size(); ++i)
        record[headerSize + i] = data[i];
    return record;
}

uint16_t PassThroughFrame::identifier(const uint8_t *record)
{
    return le16(record);
}
