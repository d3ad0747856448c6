#include "coupler_eth/coupler_update_engine.h"

#include "coupler_eth/coupler_boot_exceptions.h"
#include "coupler_eth/coupler_boot_link.h"
#include "coupler_eth/coupler_compatibility.h"
#include "platform/datagram_socket.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <utility>

using namespace CouplerBoot;

namespace {

std::string firstDifference(const std::vector<uint8_t> &image, const std::vector<uint8_t> &readBack,
                            int imageLength)
{
    const auto mismatch = std::mismatch(image.begin(), image.begin() + imageLength, readBack.begin());
    const int offset = static_cast<int>(mismatch.first - image.begin());
    char text[128];
    std::snprintf(text, sizeof text,
                  "First difference at image offset 0x%05X (page %d): file 0x%02X, flash 0x%02X.",
                  offset, pageNumberAt(offset), *mismatch.first, *mismatch.second);
    return text;
}

}

UpdateResult CouplerUpdateEngine::update(const HexImage &hex, const std::string &ip, std::vector<uint8_t> &readBack)
{
    if (auto refusal = checkCouplerCompatibility(hex, ip, m_modbusPort, m_tools)) {
        refusal->address = ip;
        refusal->deviceAfter = UpdateResult::DeviceAfter::Untouched;
        return *refusal;
    }
    m_tools.progress.checksPassed();
    m_tools.wait(kWaitBeforeRunMs);
    m_tools.progress.setMaximum(2 * paddedLength(hex.imageLength) + 1);
    m_tools.progress.phase(UpdatePhase::Writing, 0);
    // A stop asked for during the checks or the wait comes before the coupler is touched.
    if (m_tools.cancel.requested()) {
        UpdateResult stopped = UpdateResult::ended(UpdateResult::Kind::Aborted);
        stopped.deviceAfter = UpdateResult::DeviceAfter::Untouched;
        return stopped;
    }
    UpdateResult result = run(hex.image, hex.imageLength, readBack);
    result.address = ip;
    return result;
}

CouplerUpdateEngine::CouplerUpdateEngine(CouplerBootLink &link, const UpdateTools &tools, int modbusPort)
    : m_link(link), m_tools(tools), m_modbusPort(modbusPort)
{
}

UpdateResult CouplerUpdateEngine::run(const std::vector<uint8_t> &image, int imageLength,
                                      std::vector<uint8_t> &readBack)
{
    m_progressValue = 0;
    m_deviceAfter = UpdateResult::DeviceAfter::Untouched;
    UpdateResult result = faultsEnd([&] { return writeAndVerify(image, imageLength, readBack); });
    // Starting the firmware comes after the verified write; a fault there still ends the run in
    // its own message, and no success is claimed.
    if (result.kind == UpdateResult::Kind::Verified)
        result = faultsEnd([&] {
            runUserMode();
            return UpdateResult::ended(UpdateResult::Kind::Verified);
        });
    result.deviceAfter = m_deviceAfter;
    return result;
}

template <typename Steps>
UpdateResult CouplerUpdateEngine::faultsEnd(Steps steps)
{
    try {
        return steps();
    } catch (const FormatErrorException &fault) {
        UpdateResult result = UpdateResult::ended(UpdateResult::Kind::Failed, UpdateResult::Cause::ReplyMalformed);
        result.exchange = fault.text();
        result.detail = fault.detail();
        return result;
    } catch (const SendFailedException &fault) {
        UpdateResult result = UpdateResult::ended(UpdateResult::Kind::Failed, UpdateResult::Cause::SendFailed);
        result.exchange = fault.what();
        result.detail = DatagramSocket::errorText(fault.errorCode());
        return result;
    }
}

UpdateResult CouplerUpdateEngine::writeAndVerify(const std::vector<uint8_t> &image, int imageLength,
                                                     std::vector<uint8_t> &readBack)
{
    enterBootMode();
    m_tools.wait(kModeChangeWaitMs);
    confirmBootMode();
    // The boot loader erases the flash it writes: the coupler runs no firmware until an update
    // is complete.
    m_deviceAfter = UpdateResult::DeviceAfter::InBootLoader;
    writePages(image, imageLength);
    writeChecksum();
    readPages(readBack, imageLength);
    if (m_tools.cancel.requested())
        return UpdateResult::ended(UpdateResult::Kind::Aborted);
    m_tools.progress.phase(UpdatePhase::Comparing, 0);
    if (!std::equal(image.begin(), image.begin() + imageLength, readBack.begin())) {
        UpdateResult differs = UpdateResult::ended(UpdateResult::Kind::Failed, UpdateResult::Cause::FlashDiffers);
        differs.detail = firstDifference(image, readBack, imageLength);
        return differs;
    }
    return UpdateResult::ended(UpdateResult::Kind::Verified);
}

void CouplerUpdateEngine::enterBootMode()
{
    sendHeaderOnly(CouplerBootCommand::EnterBootMode);
    // Whether the coupler left its firmware is known once its boot loader answers.
    m_deviceAfter = UpdateResult::DeviceAfter::Unanswered;
}

bool CouplerUpdateEngine::confirmBootMode()
{
    sendHeaderOnly(CouplerBootCommand::ConfirmBootMode);
    uint8_t reply[kReceiveCapacity];
    const int length = m_link.receiveReply(reply);
    const std::optional<bool> inBootMode = parseConfirmReply(reply, length);
    if (!inBootMode)
        throw FormatErrorException("confirm_boot_mode_command", replyDetail(reply, length));
    return *inBootMode;
}

void CouplerUpdateEngine::writePages(const std::vector<uint8_t> &image, int imageLength)
{
    for (int offset = 0; offset < paddedLength(imageLength); offset += kPageBytes) {
        if (m_tools.cancel.requested())
            return;
        exchangePage(CouplerBootCommand::WriteData, offset, image.data() + offset, nullptr);
    }
}

void CouplerUpdateEngine::readPages(std::vector<uint8_t> &readBack, int imageLength)
{
    m_tools.progress.phase(UpdatePhase::ReadingBack, 0);
    std::fill(readBack.begin(), readBack.end(), 0xFF);
    for (int offset = 0; offset < paddedLength(imageLength); offset += kPageBytes) {
        if (m_tools.cancel.requested())
            return;
        exchangePage(CouplerBootCommand::ReadData, offset, nullptr, readBack.data() + offset);
    }
}

// One WRITE DATA or READ DATA: the request, its validated reply, the log line, the progress.
void CouplerUpdateEngine::exchangePage(CouplerBootCommand command, int offset, const uint8_t *pageData,
                                       uint8_t *readInto)
{
    QElapsedTimer stopwatch;
    stopwatch.start();
    const uint16_t page = pageNumberAt(offset);
    m_link.send(command, command == CouplerBootCommand::WriteData
                             ? encodeWriteRequest(m_link.listenPort(), page, pageData)
                             : encodeReadRequest(m_link.listenPort(), page));
    uint8_t reply[kReceiveCapacity];
    const int length = m_link.receiveReply(reply);
    if (!isPageReply(command, page, reply, length))
        throw FormatErrorException(pageFailureText(command, page, reply, length),
                                   replyDetail(reply, length));
    if (readInto)
        std::copy_n(reply + kPageDataOffset, kPageBytes, readInto);
    const char *verb = command == CouplerBootCommand::WriteData ? "Write" : "Read";
    m_tools.logLine(std::string(verb) + " Page " + std::to_string(page) + ":Cost time "
                + std::to_string(stopwatch.elapsed()) + " micro second");
    advanceProgress();
}

void CouplerUpdateEngine::writeChecksum()
{
    uint8_t reply[kReceiveCapacity];
    sendHeaderOnly(CouplerBootCommand::WriteChecksumStep1);
    int length = m_link.receiveReply(reply);
    const std::optional<Checksum> checksum = parseChecksumStep1Reply(reply, length);
    if (!checksum)
        throw FormatErrorException(checksumFailureText(CouplerBootCommand::WriteChecksumStep1, reply, length),
                                   replyDetail(reply, length));

    m_link.send(CouplerBootCommand::WriteChecksumStep2, encodeChecksumStep2(m_link.listenPort(), *checksum));
    length = m_link.receiveReply(reply);
    if (!isChecksumStep2Reply(*checksum, reply, length))
        throw FormatErrorException(checksumFailureText(CouplerBootCommand::WriteChecksumStep2, reply, length),
                                   replyDetail(reply, length) + " (sent checksum "
                                       + hexDump(checksum->data(), int(checksum->size())) + ")");
}

void CouplerUpdateEngine::runUserMode()
{
    sendHeaderOnly(CouplerBootCommand::RunUserMode);
    m_deviceAfter = UpdateResult::DeviceAfter::NewFirmwareUnconfirmed;
    m_tools.wait(kModeChangeWaitMs);
    // The run goes on whatever the flag says; it only tells what the coupler runs now.
    const bool stillInBootMode = confirmBootMode();
    if (!stillInBootMode)
        m_deviceAfter = UpdateResult::DeviceAfter::NewFirmware;
}

void CouplerUpdateEngine::sendHeaderOnly(CouplerBootCommand command)
{
    m_link.send(command, encodeRequest(command, m_link.listenPort()));
}

std::string CouplerUpdateEngine::replyDetail(const uint8_t *reply, int length) const
{
    const std::string peer = m_link.peerText();
    if (length < 0)
        return "No reply from " + peer + " within " + std::to_string(m_link.replyWindowMs()) + " ms.";
    return "Reply from " + peer + ", " + std::to_string(length) + " bytes: " + hexDump(reply, length);
}

void CouplerUpdateEngine::advanceProgress()
{
    m_tools.progress.setValue(m_progressValue);
    m_progressValue += kPageBytes;
}
