// Replies of a coupler and its modules, straight from the fuzzer: the MBAP-length framing of
// function-109 replies arriving in arbitrary pieces, and the boot-loader layer reading the
// handshake, identification and read-back answers out of whatever frames result.
#include "core/fixed_waits.h"
#include "module/module_boot_loader.h"
#include "module/pass_through_frame.h"

#include <QtGlobal>

#include <algorithm>
#include <cstring>

namespace {

// Hands out the fuzzer's bytes: one byte gives the size of the next piece, 0 meaning silence.
class FuzzedLink : public PassThroughLink
{
public:
    FuzzedLink(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}

    void setResponseTimeout(int, int) override {}
    void sendRawRequest(const uint8_t *, int) override {}
    int receiveReply(uint8_t *frame) override
    {
        return Mbap::readFrame(
            [this](uint8_t *into, int wanted, bool) { return piece(into, wanted); }, frame);
    }
    bool readHoldingRegister(int, uint16_t &value) override
    {
        uint8_t bytes[2] = {0, 0};
        const bool ok = piece(bytes, 2) == 2;
        value = static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
        return ok;
    }

private:
    int piece(uint8_t *into, int wanted)
    {
        if (m_offset >= m_size)
            return 0;
        const int announced = m_data[m_offset++];
        const int n = std::min({announced, wanted, static_cast<int>(m_size - m_offset)});
        std::memcpy(into, m_data + m_offset, static_cast<size_t>(n));
        m_offset += static_cast<size_t>(n);
        return n;
    }

    const uint8_t *m_data;
    size_t m_size;
    size_t m_offset = 0;
};

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedLink link(data, size);
    ModuleTransport transport(link, [](int) {});
    UpdateProgress unshown;
    CancelFlag never;
    ModuleBootLoader loader(transport, unshown, never);
    transport.readModuleRegister(30000);
    const std::optional<ModuleVariant> variant = loader.synchronize();
    std::vector<uint8_t> readBack(4096, 0xFF);
    loader.readFlash(static_cast<int>(readBack.size()), readBack);
    if (variant)
        loader.erase(*variant);
    return 0;
}
