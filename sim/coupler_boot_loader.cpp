#include "sim/coupler_boot_loader.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace {

// The wire format: a 9-byte header ("Vq-CPL", command, the PC's port), big-endian numbers.
constexpr char kSignature[] = "Vq-CPL";
constexpr size_t kSignatureBytes = 6;
constexpr size_t kCommandOffset = 6;
constexpr size_t kHeaderBytes = 9;
constexpr size_t kPageNumberOffset = 9;
constexpr size_t kPageDataOffset = 11;
constexpr int kPageBytes = 256;
constexpr int kFirstPageNumber = 256;
constexpr size_t kEchoBytes = 11;
using Checksum = std::array<uint8_t, 4>;

size_t requestLength(CouplerCommand command)
{
    switch (command) {
    case CouplerCommand::ReadData: return kPageDataOffset;
    case CouplerCommand::WriteData: return kPageDataOffset + kPageBytes;
    case CouplerCommand::WriteChecksumStep2: return kHeaderBytes + 4;
    default: return kHeaderBytes;
    }
}

constexpr uint32_t kCrc32Polynomial = 0xEDB88320u;   // reflected IEEE 802.3

uint32_t crc32(const uint8_t *bytes, size_t length)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (kCrc32Polynomial & (0u - (crc & 1u)));
    }
    return ~crc;
}

bool isKnownCommand(uint8_t code)
{
    switch (static_cast<CouplerCommand>(code)) {
    case CouplerCommand::ConfirmBootMode:
    case CouplerCommand::ReadData:
    case CouplerCommand::WriteData:
    case CouplerCommand::RunUserMode:
    case CouplerCommand::WriteChecksumStep2:
    case CouplerCommand::WriteChecksumStep1:
    case CouplerCommand::EnterBootMode:
        return true;
    }
    return false;
}

// The reply of the checksum steps: signature, the command, then the four checksum bytes.
Datagram checksumReply(CouplerCommand command, const Checksum &checksum)
{
    Datagram reply(kSignature, kSignature + kSignatureBytes);
    reply.push_back(static_cast<uint8_t>(command));
    reply.insert(reply.end(), checksum.begin(), checksum.end());
    return reply;
}

}

SimulatedCouplerBootLoader::SimulatedCouplerBootLoader() : m_flash(kFlashBytes, 0xFF) {}

std::optional<SimulatedCouplerBootLoader::Reply>
SimulatedCouplerBootLoader::handle(const Datagram &request, uint16_t arrivedAtPort, uint16_t fromPort)
{
    std::optional<Reply> reply;
    bool modeBefore = false;
    bool modeAfter = false;
    std::function<void(bool)> listener;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        modeBefore = m_bootMode;
        m_log.push_back({request, {}, arrivedAtPort, fromPort, std::chrono::steady_clock::now()});
        reply = answerLocked(request);
        if (reply)
            m_log.back().reply = reply->bytes;
        modeAfter = m_bootMode;
        listener = m_modeListener;
    }
    if (modeAfter != modeBefore && listener)
        listener(modeAfter);
    return reply;
}

std::optional<SimulatedCouplerBootLoader::Reply> SimulatedCouplerBootLoader::answerLocked(const Datagram &request)
{
    if (std::chrono::steady_clock::now() < m_deafUntil)
        return std::nullopt;   // still restarting
    if (request.size() < kHeaderBytes || std::memcmp(request.data(), kSignature, kSignatureBytes) != 0
        || !isKnownCommand(request[kCommandOffset]))
        return std::nullopt;
    const auto command = static_cast<CouplerCommand>(request[kCommandOffset]);
    if (request.size() != requestLength(command))
        return std::nullopt;
    const int count = ++m_seenOfCommand[request[kCommandOffset]];
    std::optional<Reply> reply = answer(command, request);
    if (!reply)
        return std::nullopt;
    return applyFaults(command, count, *reply);
}

void SimulatedCouplerBootLoader::restart(bool intoBootLoader)
{
    m_bootMode = intoBootLoader;
    m_deafUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_restartMs);
}

std::optional<SimulatedCouplerBootLoader::Reply>
SimulatedCouplerBootLoader::answer(CouplerCommand command, const Datagram &request)
{
    if (command == CouplerCommand::EnterBootMode) {
        if (!m_bootMode)
            restart(true);
        m_writtenEnd = 0;
        return std::nullopt;
    }
    if (command == CouplerCommand::ConfirmBootMode) {
        Datagram reply(kSignature, kSignature + kSignatureBytes);
        reply.push_back(static_cast<uint8_t>(command));
        reply.push_back(m_bootMode ? 1 : 0);
        return Reply{reply};
    }
    if (!m_bootMode)
        return std::nullopt;   // the running firmware knows nothing of the boot commands
    switch (command) {
    case CouplerCommand::WriteData: return writePage(request);
    case CouplerCommand::ReadData: return readPage(request);
    case CouplerCommand::WriteChecksumStep1: return checksumStep1(request);
    case CouplerCommand::WriteChecksumStep2: return checksumStep2(request);
    case CouplerCommand::RunUserMode:
        if (m_sealed) {
            restart(false);
            ++m_startCount;
        }
        return std::nullopt;
    default: return std::nullopt;
    }
}

std::optional<int> SimulatedCouplerBootLoader::pageOffset(const Datagram &request) const
{
    const int page = qFromBigEndian<quint16>(request.data() + kPageNumberOffset);
    const int offset = (page - kFirstPageNumber) * kPageBytes;
    if (page < kFirstPageNumber || offset + kPageBytes > kFlashBytes)
        return std::nullopt;
    return offset;
}

std::optional<SimulatedCouplerBootLoader::Reply> SimulatedCouplerBootLoader::writePage(const Datagram &request)
{
    const std::optional<int> offset = pageOffset(request);
    if (!offset)
        return std::nullopt;
    std::copy_n(request.begin() + kPageDataOffset, kPageBytes, m_flash.begin() + *offset);
    const int flipAt = m_faults.flipFlashBitAt;
    if (flipAt >= *offset && flipAt < *offset + kPageBytes)
        m_flash[size_t(flipAt)] ^= 0x01;
    m_writtenEnd = std::max(m_writtenEnd, *offset + kPageBytes);
    m_sealed = false;
    // The boot loader answers every WRITE DATA with an 11-byte echo of the request.
    return Reply{Datagram(request.begin(), request.begin() + kEchoBytes)};
}

std::optional<SimulatedCouplerBootLoader::Reply> SimulatedCouplerBootLoader::readPage(const Datagram &request)
{
    const std::optional<int> offset = pageOffset(request);
    if (!offset)
        return std::nullopt;
    Datagram reply(request.begin(), request.begin() + kPageDataOffset);
    reply.insert(reply.end(), m_flash.begin() + *offset, m_flash.begin() + *offset + kPageBytes);
    return Reply{reply};
}

std::array<uint8_t, 4> SimulatedCouplerBootLoader::checksumOfWrittenPages() const
{
    Checksum checksum;
    qToBigEndian<quint32>(crc32(m_flash.data(), size_t(m_writtenEnd)), checksum.data());
    return checksum;
}

std::optional<SimulatedCouplerBootLoader::Reply> SimulatedCouplerBootLoader::checksumStep1(const Datagram &)
{
    return Reply{checksumReply(CouplerCommand::WriteChecksumStep1, checksumOfWrittenPages())};
}

std::optional<SimulatedCouplerBootLoader::Reply> SimulatedCouplerBootLoader::checksumStep2(const Datagram &request)
{
    const Checksum own = checksumOfWrittenPages();
    m_sealed = std::equal(own.begin(), own.end(), request.begin() + kHeaderBytes);
    Checksum echoed = own;
    if (m_faults.corruptStep2Echo)
        echoed[0] ^= 0x01;
    return Reply{checksumReply(CouplerCommand::WriteChecksumStep2, echoed)};
}

std::optional<SimulatedCouplerBootLoader::Reply>
SimulatedCouplerBootLoader::applyFaults(CouplerCommand command, int count, Reply reply) const
{
    reply.fromOtherPort = m_faults.answerFromOtherPort;
    for (const CouplerReplyFault &fault : m_faults.replies) {
        if (fault.command != command || (fault.nth != 0 && fault.nth != count))
            continue;
        switch (fault.kind) {
        case CouplerReplyFault::Kind::Drop: return std::nullopt;
        case CouplerReplyFault::Kind::WrongLength: reply.bytes.push_back(0); break;
        case CouplerReplyFault::Kind::WrongPageEcho:
            if (reply.bytes.size() >= kPageDataOffset)
                qToBigEndian<quint16>(qFromBigEndian<quint16>(reply.bytes.data() + kPageNumberOffset) + 1,
                                      reply.bytes.data() + kPageNumberOffset);
            break;
        case CouplerReplyFault::Kind::Delay: reply.delayMs = fault.delayMs; break;
        }
    }
    return reply;
}

void SimulatedCouplerBootLoader::setFaults(const CouplerBootFaults &faults)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults = faults;
}

void SimulatedCouplerBootLoader::setRestartMs(int milliseconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_restartMs = milliseconds;
}

void SimulatedCouplerBootLoader::setModeListener(std::function<void(bool bootMode)> listener)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_modeListener = std::move(listener);
}

void SimulatedCouplerBootLoader::setFlash(const std::vector<uint8_t> &content)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::fill(m_flash.begin(), m_flash.end(), 0xFF);
    std::copy_n(content.begin(), std::min(content.size(), m_flash.size()), m_flash.begin());
    m_sealed = true;
}

void SimulatedCouplerBootLoader::enterBootLoader()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bootMode = true;
}

bool SimulatedCouplerBootLoader::inBootMode() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bootMode;
}

bool SimulatedCouplerBootLoader::sealed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sealed;
}

int SimulatedCouplerBootLoader::startCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_startCount;
}

std::vector<uint8_t> SimulatedCouplerBootLoader::flash() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_flash;
}

std::vector<SimulatedCouplerBootLoader::LoggedRequest> SimulatedCouplerBootLoader::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_log;
}

std::vector<SimulatedCouplerBootLoader::LoggedRequest>
SimulatedCouplerBootLoader::requestsOf(CouplerCommand command) const
{
    std::vector<LoggedRequest> picked;
    for (const LoggedRequest &request : requests())
        if (request.bytes.size() > kCommandOffset
            && request.bytes[kCommandOffset] == static_cast<uint8_t>(command))
            picked.push_back(request);
    return picked;
}

void SimulatedCouplerBootLoader::clearLog()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.clear();
    m_seenOfCommand.fill(0);
}
