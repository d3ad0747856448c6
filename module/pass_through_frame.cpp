#include "module/pass_through_frame.h"

#include <cstring>

namespace PassThroughFrame {

int frameLengthFromHeader(const uint8_t *header)
{
    const int total = Mbap::frameBytes(header);
    if (total - Mbap::kLengthPrefixBytes < kMinLength || total > kMaxFrameBytes)
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

int readFramedReply(const ByteSource &source, uint8_t *frame)
{
    uint8_t received[kMaxFrameBytes];
    if (!readExactly(source, received, Mbap::kLengthPrefixBytes, true))
        return -1;
    const int total = frameLengthFromHeader(received);
    if (total < 0) {
        discardPending(source);
        return -1;
    }
    if (!readExactly(source, received + Mbap::kLengthPrefixBytes, total - Mbap::kLengthPrefixBytes, false))
        return -1;
    std::memcpy(frame, received, static_cast<size_t>(total));
    return total;
}

}
