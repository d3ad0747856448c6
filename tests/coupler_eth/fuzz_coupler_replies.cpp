// Datagrams straight from the fuzzer: every reply check of the coupler's boot protocol, a whole
// update run by the engine on replies cut from the fuzzer's bytes, and the simulated coupler's
// handling of arbitrary requests.
#include "core/update_environment.h"
#include "coupler_eth/coupler_boot_link.h"
#include "coupler_eth/coupler_update_engine.h"
#include "sim/coupler_boot_loader.h"

#include <QtGlobal>

#include <algorithm>
#include <climits>
#include <cstring>

using namespace CouplerBoot;

namespace {

constexpr int kImageBytes = 4096;

// Hands out the fuzzer's bytes as replies: one byte gives the length of the next (0: silence).
class FuzzedLink : public CouplerBootLink
{
public:
    FuzzedLink(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}
    uint16_t listenPort() const override { return 23456; }
    void send(CouplerBootCommand, const Bytes &) override {}
    int receiveReply(uint8_t *buffer) override
    {
        if (m_at >= m_size)
            return -1;
        const size_t wanted = std::min<size_t>(m_data[m_at++] * 2u, kReceiveCapacity);
        if (wanted == 0)
            return -1;
        const size_t length = std::min(wanted, m_size - m_at);
        std::memcpy(buffer, m_data + m_at, length);
        m_at += length;
        return static_cast<int>(length);
    }
    std::string peerText() const override { return "fuzzer"; }
    int replyWindowMs() const override { return 150; }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_at = 0;
};

void checkReplies(const uint8_t *data, size_t size)
{
    const uint16_t page = static_cast<uint16_t>(data[0] << 8 | data[1]);
    const auto command = data[2] & 1 ? CouplerBootCommand::ReadData : CouplerBootCommand::WriteData;
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
}

void runEngine(const uint8_t *data, size_t size)
{
    const int imageLength = (data[0] << 8 | data[1]) % (kImageBytes + 1);
    std::vector<uint8_t> image(kImageBytes, 0xA5);
    std::vector<uint8_t> readBack(kImageBytes, 0);
    FuzzedLink link(data + 2, size - 2);
    UpdateProgress unshown;
    CancelFlag never;
    CouplerUpdateEngine engine(link, {unshown, never, [](int) {}, nullptr}, UpdateEnvironment::kStandardModbusPort);
    (void)engine.run(image, imageLength, readBack);
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    checkReplies(data, size);
    runEngine(data, size);
    static SimulatedCouplerBootLoader coupler;
    coupler.clearLog();
    (void)coupler.handle(Datagram(data + 3, data + size));
    return 0;
}
