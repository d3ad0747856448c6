#include "coupler_eth/coupler_update_outcome.h"

#include "platform/datagram_socket.h"

#include "core/device_after_text.h"

#include <QCoreApplication>

namespace {

using Cause = UpdateResult::Cause;

QString tr(const char *text)
{
    return QCoreApplication::translate("CouplerFirmwareWidget", text);
}

QString hex16(uint32_t value)
{
    return QString::asprintf("0x%04X", value);
}

// What the register said and what the file asks for.
QString registerDetail(const UpdateResult &result)
{
    if (!result.registerReadFailure.empty())
        return QStringLiteral("Register %1 could not be read: %2.")
            .arg(result.registerAddress)
            .arg(QString::fromStdString(result.registerReadFailure));
    const QString wanted = result.cause == Cause::HardwareVersionMismatch
        ? QStringLiteral("the file is for hardware version %1 (%2)").arg(result.fileValue >> 12).arg(hex16(result.fileValue))
        : QStringLiteral("the file is for product code %1").arg(hex16(result.fileValue));
    return QStringLiteral("Register %1 reads %2; %3.").arg(result.registerAddress).arg(hex16(result.registerValue), wanted);
}

UpdateOutcome failure(const UpdateResult &result)
{
    const QString detail = QString::fromStdString(result.detail);
    const QString exchange = QString::fromLatin1(result.exchange.data(), int(result.exchange.size()));
    switch (result.cause) {
    case Cause::HardwareVersionMismatch:
        return UpdateOutcome::failed(UpdateOutcome::Icon::Critical, tr("Firmware matching error"),
                                     tr("Firmware does not match with the coupler"), registerDetail(result));
    case Cause::ProductCodeMismatch:
        return UpdateOutcome::failed(UpdateOutcome::Icon::Critical, tr("Product Code matching error"),
                                     tr("Product Code does not match with the coupler"), registerDetail(result));
    case Cause::SendFailed: {
        QString why = detail;
        if (DatagramSocket::addressFromText(result.address) == INADDR_NONE)
            why += tr("\n255.255.255.255 is no coupler's address: fill in all four IP fields.");
        return UpdateOutcome::failed(UpdateOutcome::Icon::Critical, tr("Sending failed exception"), exchange, why);
    }
    case Cause::FlashDiffers: {
        UpdateOutcome outcome = UpdateOutcome::failed(UpdateOutcome::Icon::Critical, tr("Burning Firmware Failed"),
                                                      tr("Flash data is different from file content"), detail);
        outcome.withoutParent = true;
        return outcome;
    }
    case Cause::ReplyMalformed:
    default:
        // The reply bytes stand in the text one character each.
        return UpdateOutcome::failed(UpdateOutcome::Icon::Critical, tr("Format error exception"),
                                     tr("In function: %1").arg(exchange), detail);
    }
}

// The box as the page shows it.
UpdateOutcome boxFor(const UpdateResult &result)
{
    switch (result.kind) {
    case UpdateResult::Kind::Verified:
    case UpdateResult::Kind::Written:
        return UpdateOutcome::verified(tr("Firmware of Remote IO has beed updated."), tr("Burning Firmware Successful"));
    case UpdateResult::Kind::Aborted:
        return UpdateOutcome::aborted();
    case UpdateResult::Kind::Failed:
        break;
    }
    return failure(result);
}

}

UpdateOutcome couplerUpdateOutcome(const UpdateResult &result)
{
    return withDeviceFacts(boxFor(result), result, deviceAfterText(result.deviceAfter, QStringLiteral("the coupler")));
}

QString couplerPhaseLabel(UpdatePhase phase)
{
    switch (phase) {
    case UpdatePhase::Writing:
        return QStringLiteral("Burning Firmware to Device...");
    case UpdatePhase::ReadingBack:
        return QStringLiteral("Reading Flash for comparing...");
    case UpdatePhase::Comparing:
    case UpdatePhase::StartingFirmware:   // the label stays while the firmware starts
        break;
    }
    return QStringLiteral("Comparing Data...");
}
