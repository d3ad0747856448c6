#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// The device side of the CANopen coupler as the updater sees it over the USB pass-through: an
// SDO server for expedited transfers of four bytes, a user firmware and a boot loader with their
// mode signatures, the boot command object 0x5100, the page buffer 0x5102 and 128 KiB of flash
// from 0x8000. Knows nothing of the byte stream: it takes one 11-byte request record and answers
// with the records to send back.
class CanopenSimulatedCoupler
{
public:
    using Record = std::array<uint8_t, 11>;

    static constexpr uint32_t flashStart = 0x8000;
    static constexpr size_t flashSize = 128 * 1024;
    static constexpr uint32_t abortObjectMissing = 0x06020000;
    static constexpr uint32_t abortGeneralError = 0x08000000;
    static constexpr uint32_t abortUnknownCommand = 0x05040001;  // client command not valid
    static constexpr uint32_t abortSubIndexMissing = 0x06090011;
    // The identity object every CANopen device carries: vendor-ID, product code, revision and
    // serial number in subindexes 1 to 4, their count in subindex 0.
    static constexpr uint16_t identityObject = 0x1018;
    static constexpr uint32_t identityVendorId = 0xE0007A21;
    static constexpr uint32_t identityProductCode = 0x00000C01;
    static constexpr uint32_t identityRevision = 0x00010003;
    static constexpr uint32_t identitySerialNumber = 0x00004711;
    static constexpr uint8_t guardState = 0x05;  // the heartbeat state "operational"

    struct Faults {
        int silentFromRequest = 0;        // no reply to the n-th request (1-based) and later ones
        int abortFromRequest = 0;         // abort replies from the n-th request on
        size_t truncateRepliesTo = 0;     // every reply cut to this many bytes (0: whole)
        bool answerBootRequest = false;   // answer command 1, which the updater does not read
        uint32_t flipBitAddress = 0;      // when programmed, this flash byte gets flipBitMask
        uint8_t flipBitMask = 0;          //   flipped (0: off)
        bool noGuardFrame = false;        // user firmware starts without its guard frame
        bool userAbortsSignature = false; // user firmware answers 0x5101 with an abort
    };

    struct Output {
        std::vector<uint8_t> bytes;
    };

    explicit CanopenSimulatedCoupler(uint8_t nodeId = 1, bool startInBootLoader = false);

    Faults faults;

    // Handles one request record; returns the bytes to send back (empty: no reply).
    std::vector<uint8_t> handle(const Record &request);

    bool inBootLoader() const { return m_bootLoader; }
    const std::vector<uint8_t> &flash() const { return m_flash; }
    const std::vector<Record> &requests() const { return m_requests; }
    int commandCount(uint8_t subIndex) const;
    bool verified() const { return m_verified; }

private:
    Record reply(uint8_t command, uint16_t index, uint8_t subIndex, uint32_t value) const;
    Record abortReply(uint16_t index, uint8_t subIndex, uint32_t code) const;
    std::vector<uint8_t> guardFrame() const;
    // The reply to a download; sets `quiet` for the commands that are not answered.
    Record download(uint16_t index, uint8_t subIndex, uint32_t value, bool &quiet,
                    bool &startsUser);
    Record upload(uint16_t index, uint8_t subIndex);
    Record bootCommand(uint8_t subIndex, uint32_t value, bool &quiet, bool &startsUser);
    bool pageAddressValid(uint32_t address) const;
    Record identity(uint8_t subIndex) const;
    bool programPage(uint32_t address);
    bool loadPage(uint32_t address);

    uint8_t m_nodeId;
    bool m_bootLoader;
    bool m_bootRequested = false;
    bool m_writingStarted = false;
    bool m_verified = false;
    std::array<uint32_t, 64> m_pageBuffer{};
    std::vector<uint8_t> m_flash;
    std::vector<Record> m_requests;
};
