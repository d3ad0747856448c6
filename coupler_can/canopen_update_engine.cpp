#include "coupler_can/canopen_update_engine.h"

#include "coupler_can/boot_loader_objects.h"
#include "coupler_can/canopen_comm.h"
#include "coupler_can/timeout_exception.h"
#include "core/byte_order.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <memory>
#include <stdexcept>

using namespace BootLoaderObjects;
using Kind = UpdateResult::Kind;
using Cause = UpdateResult::Cause;

namespace {

// The progress labels are the page's: translated in its class context.
QString tr(const char *text)
{
    return QCoreApplication::translate("OsmerinRemoteIOFirmwareUpdater", text);
}

int roundedLength(int imageLength)
{
    return (imageLength + PageSize - 1) / PageSize * PageSize;
}

}

CanopenUpdateEngine::CanopenUpdateEngine(CANopenCOMM &link, int nodeId,
                                         CanopenUpdateObserver &observer, Wait wait)
    : m_link(link), m_nodeId(static_cast<uint8_t>(nodeId)), m_observer(observer),
      m_wait(std::move(wait))
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
    m_observer.setRange(0, progressMaximum(imageLength));
    try {
        return runSteps(image, imageLength, readBack);
    } catch (timeout_exception *timeout) {
        // Thrown as a new object; the catcher owns it.
        const std::unique_ptr<timeout_exception> owned(timeout);
        UpdateResult timedOut = UpdateResult::ended(Kind::Failed, Cause::TransferTimedOut);
        timedOut.exchange = owned->what();
        return timedOut;
    }
}

UpdateResult CanopenUpdateEngine::runSteps(const std::vector<uint8_t> &image, int imageLength,
                                               std::vector<uint8_t> &readBack)
{
    // A stop asked for before the run comes before the boot request.
    if (m_observer.wasCanceled())
        return UpdateResult::ended(Kind::Aborted);
    if (!enterBootMode())
        return UpdateResult::ended(Kind::Failed, Cause::BootLoaderNotReached);
    writeFirmware(image, imageLength);
    m_observer.setLabelText(QStringLiteral("Reading Flash for comparing..."));
    std::fill(readBack.begin(), readBack.end(), 0xFF);
    readFlash(readBack, imageLength);
    // Abort is no failure: the coupler stays in its boot loader and no box is shown.
    if (m_observer.wasCanceled())
        return UpdateResult::ended(Kind::Aborted);
    if (!compareImage(image, readBack, imageLength))
        return UpdateResult::ended(Kind::Failed, Cause::FlashDiffers);
    reportVerified();
    m_observer.setLabelText(tr("Enter user mode...(wait 5 second)"));
    if (!enterUserMode())
        return UpdateResult::ended(Kind::Failed, Cause::UserFirmwareNotStarted);
    m_observer.setRange(0, 1);
    m_observer.setValue(1);
    return UpdateResult::ended(Kind::Verified);
}

int CanopenUpdateEngine::forEachPage(int imageLength,
                                     const std::function<void(int, uint32_t)> &transferPage)
{
    uint32_t address = FirstPageAddress;
    int byteIndex = 0;
    while (byteIndex < imageLength) {
        // Abort is looked at between pages only, so a page once begun is always completed.
        if (m_observer.wasCanceled())
            break;
        transferPage(byteIndex, address);
        byteIndex += PageSize;
        m_observer.setValue(progressCounter);
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
        m_observer.debugLine(QStringLiteral("Byte index %1 Cost time %2 microsecond")
                      .arg(byteIndex + PageSize).arg(pageTimer.elapsed()));
        writeCommand(ProgramPage, address);
    });
    m_observer.debugLine(QStringLiteral("Write %1 Bytes, Cost time %2 microsecond").arg(written).arg(total.elapsed()));
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
    m_observer.debugLine(QStringLiteral("Read %1 Bytes, Cost time %2 microsecond").arg(read).arg(total.elapsed()));
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
    if (checkBootMode())
        return true;
    sendUnansweredCommand(RequestBoot);
    m_wait(EnterBootPauseMs);
    writeCommand(ConfirmBoot, BootKey);
    return checkBootMode();
}

bool CanopenUpdateEngine::enterUserMode()
{
    sendUnansweredCommand(StartUser);
    m_wait(UserFirmwareStartMs);
    m_link.receiveGuard();
    return checkUserMode();
}

bool CanopenUpdateEngine::checkBootMode()
{
    m_observer.debugLine(QStringLiteral("Check is boot mode"));
    const uint32_t signature = readModeSignature();
    uint8_t wire[4];
    putLe32(wire, signature);
    m_observer.debugLine(QStringLiteral("%1 %2 %3 %4").arg(wire[0], 0, 16).arg(wire[1], 0, 16)
                  .arg(wire[2], 0, 16).arg(wire[3], 0, 16));
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
    return signature;
}
