#include "ethercat/ethercat_datagram.h"

#include <algorithm>

namespace Ethercat {

namespace {
constexpr uint16_t datagramLengthMask = 0x07FF;
constexpr uint16_t moreDatagramsFollow = 0x8000;
constexpr uint16_t frameLengthMask = 0x07FF;
}

Bytes encodeDatagrams(const std::vector<Datagram> &datagrams)
{
    std::size_t payload = 0;
    for (const Datagram &datagram : datagrams)
        payload += datagramHeaderSize + std::min(datagram.data.size(), maximumDatagramData) + workingCounterSize;
    Bytes frame(std::max(ethernetHeaderSize + frameHeaderSize + payload, ethernetMinimumFrame), 0);
    std::fill(frame.begin(), frame.begin() + 6, 0xFF);
    std::copy(masterMac, masterMac + 6, frame.begin() + 6);
    frame[12] = uint8_t(etherType >> 8);
    frame[13] = uint8_t(etherType);
    putLe16(frame, 14, uint16_t((payload & frameLengthMask) | (frameTypeDatagrams << 12)));
    std::size_t d = ethernetHeaderSize + frameHeaderSize;
    for (std::size_t n = 0; n < datagrams.size(); ++n) {
        const Datagram &datagram = datagrams[n];
        const std::size_t dataSize = std::min(datagram.data.size(), maximumDatagramData);
        frame[d] = uint8_t(datagram.command);
        frame[d + 1] = datagram.index;
        putLe16(frame, d + 2, datagram.position);
        putLe16(frame, d + 4, datagram.offset);
        putLe16(frame, d + 6, uint16_t(dataSize | (n + 1 < datagrams.size() ? moreDatagramsFollow : 0)));
        std::copy(datagram.data.begin(), datagram.data.begin() + dataSize, frame.begin() + d + 10);
        putLe16(frame, d + 10 + dataSize, datagram.workingCounter);
        d += datagramHeaderSize + dataSize + workingCounterSize;
    }
    return frame;
}

Bytes encodeFrame(const Datagram &datagram)
{
    return encodeDatagrams({datagram});
}

std::optional<std::vector<Datagram>> decodeDatagrams(const Bytes &frame)
{
    const std::size_t start = ethernetHeaderSize + frameHeaderSize;
    if (frame.size() < start || frame[12] != uint8_t(etherType >> 8) || frame[13] != uint8_t(etherType & 0xFF))
        return std::nullopt;
    const uint16_t header = le16(frame.data() + 14);
    const std::size_t end = start + (header & frameLengthMask);
    if ((header >> 12) != frameTypeDatagrams || end > frame.size())
        return std::nullopt;
    std::vector<Datagram> datagrams;
    for (std::size_t d = start;;) {
        if (d + datagramHeaderSize + workingCounterSize > end)
            return std::nullopt;
        const uint16_t lengthField = le16(frame.data() + d + 6);
        const std::size_t dataSize = lengthField & datagramLengthMask;
        if (d + datagramHeaderSize + dataSize + workingCounterSize > end)
            return std::nullopt;
        Datagram datagram;
        datagram.command = Command(frame[d]);
        datagram.index = frame[d + 1];
        datagram.position = le16(frame.data() + d + 2);
        datagram.offset = le16(frame.data() + d + 4);
        datagram.data.assign(frame.begin() + long(d + 10), frame.begin() + long(d + 10 + dataSize));
        datagram.workingCounter = le16(frame.data() + d + 10 + dataSize);
        datagrams.push_back(std::move(datagram));
        d += datagramHeaderSize + dataSize + workingCounterSize;
        if ((lengthField & moreDatagramsFollow) == 0)
            return datagrams;
    }
}

std::optional<Datagram> decodeFrame(const uint8_t *frame, std::size_t size)
{
    auto datagrams = decodeDatagrams(Bytes(frame, frame + size));
    if (!datagrams || datagrams->size() != 1)
        return std::nullopt;
    return std::move(datagrams->front());
}

bool isReturnedFrame(const Bytes &frame)
{
    return frame.size() > 6 && (frame[6] & returnedFrameMacBit) != 0;
}

}
