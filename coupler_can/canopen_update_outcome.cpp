#include "coupler_can/canopen_update_outcome.h"

#include "core/device_after_text.h"
#include "core/hex_text.h"

#include <QCoreApplication>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("OsmerinRemoteIOFirmwareUpdater", text);
}

UpdateOutcome critical(const QString &title, const QString &text)
{
    return UpdateOutcome::failed(UpdateOutcome::Icon::Critical, title, text);
}

// The box as the page shows it.
UpdateOutcome boxFor(const UpdateResult &result)
{
    using Cause = UpdateResult::Cause;
    switch (result.kind) {
    case UpdateResult::Kind::Verified:
    case UpdateResult::Kind::Written:
        return UpdateOutcome::verified(tr("Firmware of remote IO has beed updated."), tr("Burning Firmware Successful"));
    case UpdateResult::Kind::Aborted:
        return UpdateOutcome::aborted();
    case UpdateResult::Kind::Failed:
        break;
    }
    switch (result.cause) {
    case Cause::BootLoaderNotReached:
        return critical(QCoreApplication::applicationName(), tr("Enter Boot Mode Failed"));
    case Cause::FlashDiffers:
        return critical(tr("Burning Firmware Failed"), tr("File is different"));
    case Cause::UserFirmwareNotStarted:
        return critical(QCoreApplication::applicationName(), tr("Enter User Mode Failed"));
    case Cause::TransferTimedOut:
    default:
        return critical(tr("Read timeout"), QString::fromStdString(result.exchange));
    }
}

// The signature as a number and, where its bytes spell a word ("boot", "norm"), as the word too.
QString signatureText(uint32_t signature)
{
    QString word;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char letter = char(signature >> shift);
        if (letter < 0x20 || letter > 0x7E)
            return hexText(signature, 8);
        word += QLatin1Char(letter);
    }
    return QStringLiteral("%1 (\"%2\")").arg(hexText(signature, 8), word);
}

// What the coupler runs now, with the mode signature that told it where one was read.
QString stateText(const UpdateResult &result)
{
    const QString state = deviceAfterText(result.deviceAfter, QStringLiteral("the coupler"));
    if (!result.modeSignature || state.isEmpty())
        return state;
    return state + QStringLiteral(" Its mode signature read last: %1.").arg(signatureText(*result.modeSignature));
}

}

UpdateOutcome canopenUpdateOutcome(const UpdateResult &result)
{
    return withDeviceFacts(boxFor(result), result, stateText(result));
}

QString canopenPhaseLabel(UpdatePhase phase)
{
    switch (phase) {
    case UpdatePhase::Writing:
        return QStringLiteral("Burning Firmware to Remote IO...");
    case UpdatePhase::ReadingBack:
    case UpdatePhase::Comparing:   // the label stays while the flash is compared
        return QStringLiteral("Reading Flash for comparing...");
    case UpdatePhase::StartingFirmware:
        break;
    }
    return tr("Enter user mode...(wait 5 second)");
}
