#include "coupler_ecat/ethercat_update_outcome.h"

#include "core/device_after_text.h"

namespace {

using Cause = UpdateResult::Cause;

// What the coupler runs now and the next step. Its boot loader offers no read-back: after a
// write that did not finish, its flash may hold part of the new file.
QString runsNow(const UpdateResult &result)
{
    if (result.kind == UpdateResult::Kind::Written)
        return QStringLiteral("The coupler left its boot loader with the new firmware written.");
    if (result.kind == UpdateResult::Kind::Failed) {
        switch (result.cause) {
        case Cause::FileUnreadable:
        case Cause::FileForAnotherDevice:
        case Cause::AdapterNotOpened:
        case Cause::BootLoaderNotReached:
            return QStringLiteral("Nothing was written: the coupler runs the firmware it ran before.");
        case Cause::DeviceNotFound:
            return QString();
        default:
            break;
        }
    }
    // A stop comes only while the file is written.
    return QStringLiteral("The FoE write did not finish: the coupler's firmware may be erased or incomplete; run the "
                          "update again.");
}

// The AL state as the run read it last, where it read one.
QString alStateText(const std::string &state)
{
    if (state.empty())
        return QString();
    if (state == "unknown")
        return QStringLiteral("Its AL state could not be read after the run.");
    return QStringLiteral("Its AL state after the run: %1.").arg(QString::fromStdString(state));
}

QString stateText(const UpdateResult &result)
{
    // A coupler that did not leave BOOT cleanly needs switching off and on to start the file.
    if (result.kind == UpdateResult::Kind::Written && !result.leftCleanly)
        return QString::fromStdString("The coupler did not leave BOOT cleanly (state " + result.deviceState
                                      + "); switch it off and on again to start the new firmware.");
    const QString runs = runsNow(result);
    const QString al = alStateText(result.deviceState);
    return runs.isEmpty() || al.isEmpty() ? runs + al : runs + QLatin1Char(' ') + al;
}

UpdateOutcome boxFor(const UpdateResult &result)
{
    switch (result.kind) {
    case UpdateResult::Kind::Verified:
    case UpdateResult::Kind::Written:
        return UpdateOutcome::verified("Update firmware successfully.");
    case UpdateResult::Kind::Aborted:
        return UpdateOutcome::aborted();
    case UpdateResult::Kind::Failed:
        break;
    }
    return UpdateOutcome::failed(UpdateOutcome::Icon::Critical, QString(), "Update Firmware failed.",
                                 QString::fromStdString(result.detail));
}

}

UpdateOutcome ethercatUpdateOutcome(const UpdateResult &result)
{
    return withDeviceFacts(boxFor(result), result, stateText(result));
}
