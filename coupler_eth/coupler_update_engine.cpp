#include "coupler_eth/coupler_update_engine.h"

#include "coupler_eth/coupler_boot_exceptions.h"
#include "coupler_eth/coupler_boot_link.h"
#include "coupler_eth/coupler_compatibility.h"
#include "platform/datagram_socket.h"

#include <QCoreApplication>
#include <QDebug>
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

QString tr(const char *text)
{
    return QCoreApplication::translate("CouplerFirmwareWidget", text);
}

}

UpdateOutcome CouplerUpdateEngine::update(const HexImage &hex, const std::string &ip, std::vector<uint8_t> &readBack)
{
    if (auto refusal = checkCouplerCompatibility(hex, ip, m_modbusPort))
        return *refusal;
    m_observer.waitBeforeRun(kWaitBeforeRunMs, m_wait);
    m_observer.runStarts(2 * paddedLength(hex.imageLength) + 1);
    // A stop asked for during the checks or the wait comes before the coupler is touched.
    if (m_observer.wasCanceled())
        return UpdateOutcome::aborted();
    return outcomeOf(run(hex.image, hex.imageLength, readBack), ip);
}

UpdateOutcome CouplerUpdateEngine::outcomeOf(const CouplerRunResult &result, const std::string &ip)
{
    using Outcome = CouplerRunResult::Outcome;
    const QString detail = QString::fromStdString(result.detail);
    switch (result.outcome) {
    case Outcome::Verified:
        return UpdateOutcome::verified(tr("Firmware of Remote IO has beed updated."), tr("Burning Firmware Successful"));
    case Outcome::Cancelled:
        return UpdateOutcome::aborted();
    case Outcome::FormatError:
        // The reply bytes stand in the text one character each.
        return UpdateOutcome::failed(
            UpdateOutcome::Icon::Critical, tr("Format error exception"),
            tr("In function: %1").arg(QString::fromLatin1(result.text.data(), static_cast<int>(result.text.size()))),
            detail);
    case Outcome::SendFailed: {
        QString why = detail;
        if (DatagramSocket::addressFromText(ip) == INADDR_NONE)
            why += tr("\n255.255.255.255 is no coupler's address: fill in all four IP fields.");
        return UpdateOutcome::failed(UpdateOutcome::Icon::Critical, tr("Sending failed exception"),
                                     QString::fromStdString(result.text), why);
    }
    case Outcome::FlashDiffers: {
        UpdateOutcome outcome = UpdateOutcome::failed(UpdateOutcome::Icon::Critical, tr("Burning Firmware Failed"),
                                                      tr("Flash data is different from file content"), detail);
        outcome.withoutParent = true;
        return outcome;
    }
    }
    return UpdateOutcome::aborted();
}

CouplerUpdateEngine::CouplerUpdateEngine(CouplerBootLink &link, CouplerUpdateObserver &observer,
                                         Wait wait, int modbusPort)
    : m_link(link), m_observer(observer), m_wait(std::move(wait)), m_modbusPort(modbusPort)
{
}

CouplerRunResult CouplerUpdateEngine::run(const std::vector<uint8_t> &image, int imageLength,
                                          std::vector<uint8_t> &readBack)
{
    m_progressValue = 0;
    const CouplerRunResult written = faultsEnd([&] { return writeAndVerify(image, imageLength, readBack); });
    if (written.outcome != CouplerRunResult::Outcome::Verified)
        return written;
    // Starting the firmware comes after the verified write; a fault there still ends the run in
    // its own message, and no success is claimed.
    return faultsEnd([&] {
        runUserMode();
        return CouplerRunResult{};
    });
}

template <typename Steps>
CouplerRunResult CouplerUpdateEngine::faultsEnd(Steps steps)
{
    try {
        return steps();
    } catch (const FormatErrorException &fault) {
        return {CouplerRunResult::Outcome::FormatError, fault.text(), fault.detail()};
    } catch (const SendFailedException &fault) {
        return {CouplerRunResult::Outcome::SendFailed, fault.what(),
                DatagramSocket::errorText(fault.errorCode())};
    }
}

CouplerRunResult CouplerUpdateEngine::writeAndVerify(const std::vector<uint8_t> &image, int imageLength,
                                                     std::vector<uint8_t> &readBack)
{
    enterBootMode();
    m_wait(kModeChangeWaitMs);
    confirmBootMode();
    writePages(image, imageLength);
    writeChecksum();
    readPages(readBack, imageLength);
    if (m_observer.wasCanceled())
        return {CouplerRunResult::Outcome::Cancelled, {}, {}};
    m_observer.setLabelText(QStringLiteral("Comparing Data..."));
    if (!std::equal(image.begin(), image.begin() + imageLength, readBack.begin()))
        return {CouplerRunResult::Outcome::FlashDiffers, {}, firstDifference(image, readBack, imageLength)};
    return {};
}

void CouplerUpdateEngine::enterBootMode()
{
    sendHeaderOnly(CouplerBootCommand::EnterBootMode);
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
        if (m_observer.wasCanceled())
            return;
        exchangePage(CouplerBootCommand::WriteData, offset, image.data() + offset, nullptr);
    }
}

void CouplerUpdateEngine::readPages(std::vector<uint8_t> &readBack, int imageLength)
{
    m_observer.setLabelText(QStringLiteral("Reading Flash for comparing..."));
    std::fill(readBack.begin(), readBack.end(), 0xFF);
    for (int offset = 0; offset < paddedLength(imageLength); offset += kPageBytes) {
        if (m_observer.wasCanceled())
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
    const char *line = command == CouplerBootCommand::WriteData ? "Write Page %1:Cost time %2 micro second"
                                                                : "Read Page %1:Cost time %2 micro second";
    qDebug().noquote() << QString::fromLatin1(line).arg(page).arg(stopwatch.elapsed());
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
    m_wait(kModeChangeWaitMs);
    confirmBootMode();
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
    m_observer.setValue(m_progressValue);
    m_progressValue += kPageBytes;
}
