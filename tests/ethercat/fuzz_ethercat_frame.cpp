// Arbitrary bytes as an EtherCAT frame: the master's decoder, and the simulated coupler that
// serves whatever datagrams survive it.
#include "ethercat/ethercat_datagram.h"
#include "sim/ethercat_coupler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static SimEthercat::Coupler coupler(128);
    const Ethercat::Bytes frame(data, data + size);
    if (const auto datagram = Ethercat::decodeFrame(frame)) {
        const Ethercat::Bytes again = Ethercat::encodeFrame(*datagram);
        Ethercat::decodeFrame(again);
    }
    if (const auto datagrams = Ethercat::decodeDatagrams(frame))
        Ethercat::decodeDatagrams(Ethercat::encodeDatagrams(*datagrams));
    coupler.answer(frame);
    return 0;
}
