// Arbitrary bytes as the serial stream in both directions: cut into 11-byte records, each taken
// as an SDO reply by the updater and as a request by the simulated coupler (whose page buffer
// and flash commands must keep every address inside its flash).
#include "coupler_can/pass_through_frame.h"
#include "coupler_can/sdo_messages.h"
#include "sim/canopen_simulated_coupler.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses the coupler's starting state and faults.
    CanopenSimulatedCoupler coupler(data[0] & 0x7F, data[0] & 0x80);
    coupler.faults.answerBootRequest = data[0] & 0x01;
    coupler.faults.flipBitAddress = 0x8000 + data[0] * 97u;
    coupler.faults.flipBitMask = data[0];
    coupler.faults.truncateRepliesTo = data[0] % 12;
    ++data;
    --size;
    volatile uint32_t sink = 0;
    for (size_t at = 0; at + PassThroughFrame::sdoRecordSize <= size;
         at += PassThroughFrame::sdoRecordSize) {
        CanopenSimulatedCoupler::Record record;
        std::memcpy(record.data(), data + at, record.size());
        sink = sink + SdoMessages::replyValue(record.data()) + PassThroughFrame::identifier(record.data());
        const auto reply = coupler.handle(record);
        if (reply.size() > record.size() + PassThroughFrame::guardRecordSize)
            __builtin_trap();
    }
    return 0;
}
