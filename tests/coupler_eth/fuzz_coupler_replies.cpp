// Datagrams straight from the fuzzer: every reply check of the coupler's boot protocol and the
// texts built from a bad reply, and the simulated coupler's handling of arbitrary requests.
#include "coupler_eth/coupler_boot_protocol.h"
#include "sim/coupler_boot_loader.h"

#include <algorithm>
#include <cstring>

using namespace CouplerBoot;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const uint16_t page = static_cast<uint16_t>(data[0] << 8 | data[1]);
    const auto command = data[2] & 1 ? CouplerBootCommand::ReadData : CouplerBootCommand::WriteData;
    // The page receives into a 512-byte buffer; a longer datagram is cut there.
    uint8_t reply[kReceiveCapacity];
    const int length = static_cast<int>(std::min<size_t>(size - 3, kReceiveCapacity));
    std::memcpy(reply, data + 3, static_cast<size_t>(length));

    (void)parseConfirmReply(reply, length);
    (void)isPageReply(command, page, reply, length);
    if (const std::optional<Checksum> checksum = parseChecksumStep1Reply(reply, length))
        (void)isChecksumStep2Reply(*checksum, reply, length);
    (void)pageFailureText(command, page, reply, length);
    (void)checksumFailureText(CouplerBootCommand::WriteChecksumStep2, reply, length);
    (void)hexDump(reply, length);

    static SimulatedCouplerBootLoader coupler;
    coupler.clearLog();
    (void)coupler.handle(Datagram(data + 3, data + size));
    return 0;
}
