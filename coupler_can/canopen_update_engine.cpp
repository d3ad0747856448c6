#include "coupler_can/canopen_update_engine.h"

#include "coupler_can/boot_loader_objects.h"
#include "coupler_can/canopen_comm.h"
#include "coupler_can/timeout_exception.h"
#include "core/byte_order.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>

using namespace BootLoaderObjects;
using Kind = UpdateResult::Kind;
using Cause = UpdateResult::Cause;

namespace {

std::string costLine(const char *verb, int bytes, const QElapsedTimer &timer)
{
    return std::string(verb) + " " + std::to_string(bytes) + " Bytes, Cost time " + std::to_string(timer.elapsed())
           + " microsecond";
}

int roundedLength(int imageLength)
{
    return (imageLength + PageSize - 1) / PageSize * PageSize;
}

}

CanopenUpdateEngine::CanopenUpdateEngine(CANopenCOMM &link, int nodeId, const UpdateTools &tools)
    : m_link(link), m_nodeId(static_cast<uint8_t>(nodeId)), m_tools(tools)
{
}

int CanopenUpdateEngine::progressMaximum(int imageLength)
{
    return 2 * roundedLength(imageLength) + 1;
}

UpdateResult CanopenUpdateEngine::run(const std::vector<uint8_t> &image, int imageLength,
                                          std::vector<uint8_t> &readBack)
{
    const size_t wholePages = static_cast<size_t>(roundedLength(imageLength));
    if (imageLength < 0 || image.size() < wholePages || readBack.size() < wholePages)
        throw std::invalid_argument("CanopenUpdateEngine::run: buffers shorter than the whole pages");
    progressCounter = 0;
    m_deviceAfter = UpdateResult::DeviceAfter::Untouched;
    m_modeSignature.reset();
    m_tools.progress.setMaximum(progressMaximum(imageLength));
    m_tools.progress.phase(UpdatePhase::Writing, 0);
    UpdateResult result;
    try {
        result = runSteps(image, imageLength, readBack);
    } catch (timeout_exception *timeout) {
        // Thrown as a new object; the catcher owns it.
        const std::unique_ptr<timeout_exception> owned(timeout);
        result = UpdateResult::ended(Kind::Failed, Cause::TransferTimedOut);
        result.exchange = owned->what();
    }
    result.deviceAfter = m_deviceAfter;
    result.modeSignature = m_modeSignature;
    return result;
}

UpdateResult CanopenUpdateEngine::runSteps(const std::vector<uint8_t> &image, int imageLength,
                                               std::vector<uint8_t> &readBack)
{
    // A stop asked for before the run comes before the boot request.
    if (m_tools.cancel.requested())
        return UpdateResult::ended(Kind::Aborted);
    if (!enterBootMode())
        return UpdateResult::ended(Kind::Failed, Cause::BootLoaderNotReached);
    writeFirmware(image, imageLength);
    m_tools.progress.phase(UpdatePhase::ReadingBack, 0);
    std::fill(readBack.begin(), readBack.end(), 0xFF);
    readFlash(readBack, imageLength);
    // Abort is no failure: the coupler stays in its boot loader and no box is shown.
    if (m_tools.cancel.requested())
        return UpdateResult::ended(Kind::Aborted);
    if (!compareImage(image, readBack, imageLength))
        return UpdateResult::ended(Kind::Failed, Cause::FlashDiffers);
    reportVerified();
    m_tools.progress.phase(UpdatePhase::StartingFirmware, 0);
    if (!enterUserMode())
        return UpdateResult::ended(Kind::Failed, Cause::UserFirmwareNotStarted);
    m_tools.progress.setMaximum(1);
    m_tools.progress.setValue(1);
    return UpdateResult::ended(Kind::Verified);
}

int CanopenUpdateEngine::forEachPage(int imageLength,
                                     const std::function<void(int, uint32_t)> &transferPage)
{
    uint32_t address = FirstPageAddress;
    int byteIndex = 0;
    while (byteIndex < imageLength) {
        // Abort is looked at between pages only, so a page once begun is always completed.
        if (m_tools.cancel.requested())
            break;
        transferPage(byteIndex, address);
        byteIndex += PageSize;
        m_tools.progress.setValue(progressCounter);
        progressCounter += PageSize;
        address += PageSize;
    }
    return byteIndex;
}

void CanopenUpdateEngine::writeFirmware(const std::vector<uint8_t> &image, int imageLength)
{
    writeCommand(StartWriting, WriteStartKey);
    QElapsedTimer total;
    total.start();
    const int written = forEachPage(imageLength, [&](int byteIndex, uint32_t address) {
        QElapsedTimer pageTimer;
        pageTimer.start();
        for (int n = 0; n < PageBufferWords; ++n) {
            const uint32_t value = le32(&image[byteIndex + 4 * n]);
            uint32_t echo = 0;
            m_link.sendDownloadRequest(m_nodeId, PageBufferObject, static_cast<uint8_t>(n), &value);
            m_link.readDownloadResponse(PageBufferObject, static_cast<uint8_t>(n), &echo);
        }
        m_tools.logLine("Byte index " + std::to_string(byteIndex + PageSize) + " Cost time "
                        + std::to_string(pageTimer.elapsed()) + " microsecond");
        writeCommand(ProgramPage, address);
    });
    m_tools.logLine(costLine("Write", written, total));
}

void CanopenUpdateEngine::readFlash(std::vector<uint8_t> &readBack, int imageLength)
{
    QElapsedTimer total;
    total.start();
    const int read = forEachPage(imageLength, [&](int byteIndex, uint32_t address) {
        writeCommand(FetchPage, address);
        for (int n = 0; n < PageBufferWords; ++n) {
            uint32_t word = 0;
            m_link.sendUploadRequest(m_nodeId, PageBufferObject, static_cast<uint8_t>(n));
            m_link.readUploadResponse(PageBufferObject, static_cast<uint8_t>(n), &word);
            putLe32(&readBack[byteIndex + 4 * n], word);
        }
    });
    m_tools.logLine(costLine("Read", read, total));
}

bool CanopenUpdateEngine::compareImage(const std::vector<uint8_t> &image,
                                       const std::vector<uint8_t> &readBack, int imageLength)
{
    return std::equal(image.begin(), image.begin() + imageLength, readBack.begin());
}

void CanopenUpdateEngine::reportVerified()
{
    writeCommand(ReportVerified, BootKey);
}

bool CanopenUpdateEngine::enterBootMode()
{
    // A coupler left in its boot loader by an interrupted update goes straight on.
    if (!checkBootMode()) {
        sendUnansweredCommand(RequestBoot);
        m_deviceAfter = UpdateResult::DeviceAfter::Unanswered;
        m_tools.wait(EnterBootPauseMs);
        writeCommand(ConfirmBoot, BootKey);
        if (!checkBootMode())
            return false;
    }
    m_deviceAfter = UpdateResult::DeviceAfter::InBootLoader;
    return true;
}

bool CanopenUpdateEngine::enterUserMode()
{
    sendUnansweredCommand(StartUser);
    m_deviceAfter = UpdateResult::DeviceAfter::NewFirmwareUnconfirmed;
    m_tools.wait(UserFirmwareStartMs);
    m_link.receiveGuard();
    if (!checkUserMode())
        return false;
    m_deviceAfter = UpdateResult::DeviceAfter::NewFirmware;
    return true;
}

bool CanopenUpdateEngine::checkBootMode()
{
    m_tools.logLine("Check is boot mode");
    const uint32_t signature = readModeSignature();
    uint8_t wire[4];
    putLe32(wire, signature);
    char line[16];
    std::snprintf(line, sizeof line, "%x %x %x %x", wire[0], wire[1], wire[2], wire[3]);
    m_tools.logLine(line);
    return signature == BootLoaderSignature;
}

bool CanopenUpdateEngine::checkUserMode()
{
    return readModeSignature() == UserFirmwareSignature;
}

void CanopenUpdateEngine::writeCommand(uint8_t command, uint32_t value)
{
    uint32_t reply = 0;
    m_link.sendDownloadRequest(m_nodeId, BootCommandObject, command, &value);
    m_link.readDownloadResponse(BootCommandObject, command, &reply);
}

// Commands 1 and 3: the coupler does not answer them, so no reply is read.
void CanopenUpdateEngine::sendUnansweredCommand(uint8_t command)
{
    const uint32_t key = BootKey;
    m_link.sendDownloadRequest(m_nodeId, BootCommandObject, command, &key);
}

uint32_t CanopenUpdateEngine::readModeSignature()
{
    uint32_t signature = 0;
    m_link.sendUploadRequest(m_nodeId, ModeSignatureObject, ModeSignatureSubIndex);
    m_link.readUploadResponse(ModeSignatureObject, ModeSignatureSubIndex, &signature);
    m_modeSignature = signature;
    return signature;
}
