#include "module/module_update_outcome.h"

#include "core/device_after_text.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

using Cause = UpdateResult::Cause;
using Icon = UpdateOutcome::Icon;

QString pageText(const char *source)
{
    return QCoreApplication::translate("ModuleFirmwareWidget", source);
}

// A box titled with the application's name, as every box at the end of a module run is.
UpdateOutcome closingBox(UpdateOutcome::Kind kind, Icon icon, const QString &text)
{
    return {kind, icon, QCoreApplication::applicationName(), text, QString(), false, QString(), false};
}

int endedAt(const UpdateResult &result)
{
    return result.modules.empty() ? 0 : result.modules.front();
}

UpdateOutcome mismatch(const UpdateResult &result, const char *text)
{
    QStringList modules;
    for (int module : result.modules)
        modules << QString::number(module);
    QStringList unread;
    for (const UpdateResult::UnreadRegister &read : result.unreadRegisters)
        unread << QStringLiteral("Register %1 of module %2 could not be read: %3.")
                      .arg(read.address)
                      .arg(read.module)
                      .arg(QString::fromStdString(read.failure));
    return UpdateOutcome::failed(Icon::Critical, pageText("Firmware matching error"),
                                 pageText(text).arg(modules.join(", ")), unread.join("\n"));
}

UpdateOutcome failure(const UpdateResult &result)
{
    switch (result.cause) {
    case Cause::ConnectionFailed:
        return UpdateOutcome::failed(Icon::Critical, pageText("Connection failed"),
                                     pageText("Please check field of IP and port is correct"),
                                     QStringLiteral("Modbus TCP %1:%2: %3.")
                                         .arg(QString::fromStdString(result.address))
                                         .arg(result.port)
                                         .arg(QString::fromStdString(result.detail)));
    case Cause::ProductCodeMismatch:
        return mismatch(result, "Firmware does not match with the module %1");
    case Cause::HardwareVersionMismatch:
        return mismatch(result, "Firmware does not match with with the model %1");
    case Cause::BootLoaderNotReached:
        return closingBox(UpdateOutcome::Kind::Failed, Icon::Critical,
                          pageText("Connection failed. Synchronizing baudrate of module failed."));
    case Cause::FlashDiffers:
    default:
        return closingBox(UpdateOutcome::Kind::Failed, Icon::Critical,
                          pageText("Burning Firmware to module %1 Failed. Comparison is NOT equal. "
                                   "Content is different between local file and flash.")
                              .arg(endedAt(result)));
    }
}

// The box as the page shows it.
UpdateOutcome boxFor(const UpdateResult &result)
{
    const int first = result.firstModule;
    const int last = result.lastModule;
    switch (result.kind) {
    case UpdateResult::Kind::Verified:
    case UpdateResult::Kind::Written:
        return closingBox(UpdateOutcome::Kind::Verified, Icon::Information,
                          first == last
                              ? pageText("Burning firmware successful. Firmware of module %1 has been updated.").arg(first)
                              : pageText("Burning firmware successful. Firmware of module %1-%2 has been updated.")
                                    .arg(first)
                                    .arg(last));
    case UpdateResult::Kind::Aborted:
        return closingBox(UpdateOutcome::Kind::Aborted, Icon::Information, pageText("User cancel the operation."));
    case UpdateResult::Kind::Failed:
        break;
    }
    return failure(result);
}

}

UpdateOutcome moduleUpdateOutcome(const UpdateResult &result)
{
    // A coupler not reached leaves every module as it was.
    const QString state = result.rangeAfter.empty() && result.deviceAfter == UpdateResult::DeviceAfter::Untouched
        ? QStringLiteral("No module was touched: they run the firmware they ran before.")
        : rangeAfterText(result.rangeAfter, result.firstModule, QStringLiteral("module"));
    return withDeviceFacts(boxFor(result), result, state);
}

QString modulePhaseLabel(UpdatePhase phase, int module)
{
    switch (phase) {
    case UpdatePhase::Writing:
        return pageText("Burning Firmware to module %1...").arg(module);
    case UpdatePhase::ReadingBack:
        return pageText("Reading flash data on module %1 ...").arg(module);
    case UpdatePhase::Comparing:
    case UpdatePhase::StartingFirmware:   // the label stays while the module's firmware starts
        break;
    }
    return pageText("Comparing data of module %1 ...").arg(module);
}

namespace {

QString endedWith(const QList<int> &modules)
{
    QStringList numbers;
    for (int module : modules)
        numbers << QString::number(module);
    return QStringLiteral("Not started: the run of the range ended with module %1.").arg(numbers.join(", "));
}

}

UpdateOutcome moduleOutcomeInRange(const UpdateOutcome &range, const QList<int> &outcomeModules,
                                   UpdateResult::DeviceAfter after, int module)
{
    UpdateOutcome own = range;
    if (after == UpdateResult::DeviceAfter::NewFirmware) {
        UpdateResult verified = UpdateResult::ended(UpdateResult::Kind::Verified);
        verified.firstModule = verified.lastModule = module;
        own = moduleUpdateOutcome(verified);
        own.readBack = true;
    } else if (!outcomeModules.isEmpty() && !outcomeModules.contains(module)) {
        own = UpdateOutcome::aborted(endedWith(outcomeModules));
    }
    own.deviceState = deviceAfterText(after, QStringLiteral("module %1").arg(module));
    return own;
}
