#include "sim/canopen_simulated_coupler.h"

#include "core/byte_order.h"

#include <algorithm>

namespace {

constexpr uint16_t bootCommandObject = 0x5100;
constexpr uint16_t modeSignatureObject = 0x5101;
constexpr uint16_t pageBufferObject = 0x5102;
constexpr uint32_t bootKey = 0x4C1D93E7;
constexpr uint32_t writeStartKey = 0x9B27E05A;
constexpr uint32_t bootSignature = 0x626F6F74;
constexpr uint32_t userSignature = 0x6E6F726D;
constexpr uint8_t downloadExpedited4 = 0x23;
constexpr uint8_t uploadRequest = 0x40;
constexpr uint8_t downloadResponse = 0x60;
constexpr uint8_t uploadResponse4 = 0x43;
constexpr uint8_t uploadResponse1 = 0x4F;   // expedited, size indicated, 3 bytes unused
constexpr uint8_t abortTransfer = 0x80;
constexpr size_t pageSize = 256;

uint32_t valueOf(const CanopenSimulatedCoupler::Record &record)
{
    return le32(&record[7]);
}

}

CanopenSimulatedCoupler::CanopenSimulatedCoupler(uint8_t nodeId, bool startInBootLoader)
    : m_nodeId(nodeId), m_bootLoader(startInBootLoader), m_flash(flashSize, 0xFF)
{
}

int CanopenSimulatedCoupler::commandCount(uint8_t subIndex) const
{
    return static_cast<int>(std::count_if(m_requests.begin(), m_requests.end(),
                                          [subIndex](const Record &r) {
                                              return r[4] == (bootCommandObject & 0xFF)
                                                  && r[5] == (bootCommandObject >> 8)
                                                  && r[6] == subIndex && r[3] == downloadExpedited4;
                                          }));
}

CanopenSimulatedCoupler::Record CanopenSimulatedCoupler::reply(uint8_t command, uint16_t index,
                                                               uint8_t subIndex,
                                                               uint32_t value) const
{
    Record record{};
    putLe16(&record[0], static_cast<uint16_t>(0x580 + m_nodeId));
    record[2] = 8;
    record[3] = command;
    putLe16(&record[4], index);
    record[6] = subIndex;
    putLe32(&record[7], value);
    return record;
}

CanopenSimulatedCoupler::Record CanopenSimulatedCoupler::abortReply(uint16_t index,
                                                                    uint8_t subIndex,
                                                                    uint32_t code) const
{
    return reply(abortTransfer, index, subIndex, code);
}

std::vector<uint8_t> CanopenSimulatedCoupler::guardFrame() const
{
    std::vector<uint8_t> frame = {0, 0, 1, guardState};
    putLe16(frame.data(), static_cast<uint16_t>(0x700 + m_nodeId));
    return frame;
}

std::vector<uint8_t> CanopenSimulatedCoupler::handle(const Record &request)
{
    m_requests.push_back(request);
    const int number = static_cast<int>(m_requests.size());
    const uint16_t identifier = le16(&request[0]);
    if (identifier != 0x600 + m_nodeId || request[2] != 8)
        return {};
    if (faults.silentFromRequest > 0 && number >= faults.silentFromRequest)
        return {};
    const uint16_t index = le16(&request[4]);
    const uint8_t subIndex = request[6];
    bool quiet = false;
    bool startsUser = false;
    Record answer;
    if (faults.abortFromRequest > 0 && number >= faults.abortFromRequest)
        answer = abortReply(index, subIndex, abortGeneralError);
    else if (request[3] == downloadExpedited4)
        answer = download(index, subIndex, valueOf(request), quiet, startsUser);
    else if (request[3] == uploadRequest)
        answer = upload(index, subIndex);
    else
        answer = abortReply(index, subIndex, abortUnknownCommand);
    std::vector<uint8_t> bytes;
    if (!quiet) {
        const size_t length = faults.truncateRepliesTo > 0
            ? std::min(faults.truncateRepliesTo, answer.size())
            : answer.size();
        bytes.assign(answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(length));
    }
    if (startsUser && !faults.noGuardFrame) {
        const auto guard = guardFrame();
        bytes.insert(bytes.end(), guard.begin(), guard.end());
    }
    return bytes;
}

CanopenSimulatedCoupler::Record CanopenSimulatedCoupler::upload(uint16_t index, uint8_t subIndex)
{
    if (index == modeSignatureObject && subIndex == 0) {
        if (!m_bootLoader && faults.userAbortsSignature)
            return abortReply(index, subIndex, abortObjectMissing);
        return reply(uploadResponse4, index, subIndex,
                     m_bootLoader ? bootSignature : userSignature);
    }
    if (m_bootLoader && index == pageBufferObject && subIndex < m_pageBuffer.size())
        return reply(uploadResponse4, index, subIndex, m_pageBuffer[subIndex]);
    if (index == identityObject)
        return identity(subIndex);
    return abortReply(index, subIndex, abortObjectMissing);
}

// The boot loader and the user firmware answer it alike.
CanopenSimulatedCoupler::Record CanopenSimulatedCoupler::identity(uint8_t subIndex) const
{
    const uint32_t values[] = {identityVendorId, identityProductCode, identityRevision, identitySerialNumber};
    if (subIndex == 0)
        return reply(uploadResponse1, identityObject, 0, 4);
    if (subIndex > 4)
        return abortReply(identityObject, subIndex, abortSubIndexMissing);
    return reply(uploadResponse4, identityObject, subIndex, values[subIndex - 1]);
}

CanopenSimulatedCoupler::Record CanopenSimulatedCoupler::download(uint16_t index,
                                                                  uint8_t subIndex,
                                                                  uint32_t value, bool &quiet,
                                                                  bool &startsUser)
{
    if (index == bootCommandObject)
        return bootCommand(subIndex, value, quiet, startsUser);
    if (m_bootLoader && index == pageBufferObject && subIndex < m_pageBuffer.size()) {
        m_pageBuffer[subIndex] = value;
        return reply(downloadResponse, index, subIndex, 0);
    }
    return abortReply(index, subIndex, abortObjectMissing);
}

bool CanopenSimulatedCoupler::pageAddressValid(uint32_t address) const
{
    return address >= flashStart && (address - flashStart) % pageSize == 0
        && address - flashStart < flashSize;
}

// Copies the page buffer into the flash page at `address`, little-endian words as the boot
// loader stores them.
bool CanopenSimulatedCoupler::programPage(uint32_t address)
{
    if (!pageAddressValid(address))
        return false;
    uint8_t *page = &m_flash[address - flashStart];
    for (size_t word = 0; word < m_pageBuffer.size(); ++word)
        putLe32(page + 4 * word, m_pageBuffer[word]);
    if (faults.flipBitMask && faults.flipBitAddress >= address && faults.flipBitAddress < address + pageSize)
        m_flash[faults.flipBitAddress - flashStart] ^= faults.flipBitMask;
    return true;
}

bool CanopenSimulatedCoupler::loadPage(uint32_t address)
{
    if (!pageAddressValid(address))
        return false;
    const uint8_t *page = &m_flash[address - flashStart];
    for (size_t word = 0; word < m_pageBuffer.size(); ++word)
        m_pageBuffer[word] = le32(page + 4 * word);
    return true;
}

CanopenSimulatedCoupler::Record CanopenSimulatedCoupler::bootCommand(uint8_t subIndex,
                                                                     uint32_t value, bool &quiet,
                                                                     bool &startsUser)
{
    const Record done = reply(downloadResponse, bootCommandObject, subIndex, 0);
    const Record refused = abortReply(bootCommandObject, subIndex, abortGeneralError);
    switch (subIndex) {
    case 1:
        // The user firmware takes the request without answering it.
        quiet = !faults.answerBootRequest;
        m_bootRequested = !m_bootLoader && value == bootKey;
        return done;
    case 2:
        if (m_bootLoader || !m_bootRequested || value != bootKey)
            return refused;
        m_bootLoader = true;
        m_bootRequested = false;
        m_writingStarted = false;
        m_verified = false;
        return done;
    case 3:
        quiet = true;
        if (m_bootLoader && value == bootKey) {
            m_bootLoader = false;
            startsUser = true;
        }
        return done;
    case 4:
        if (!m_bootLoader || value != bootKey)
            return refused;
        m_verified = true;
        return done;
    case 6:
        return m_bootLoader && m_writingStarted && programPage(value) ? done : refused;
    case 7:
        return m_bootLoader && loadPage(value) ? done : refused;
    case 8:
        if (!m_bootLoader || value != writeStartKey)
            return refused;
        // Starting a write erases the application flash.
        std::fill(m_flash.begin(), m_flash.end(), 0xFF);
        m_writingStarted = true;
        return done;
    default:
        return abortReply(bootCommandObject, subIndex, abortObjectMissing);
    }
}
