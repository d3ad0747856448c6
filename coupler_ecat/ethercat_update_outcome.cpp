#include "coupler_ecat/ethercat_update_outcome.h"

UpdateOutcome ethercatUpdateOutcome(const UpdateResult &result)
{
    switch (result.kind) {
    case UpdateResult::Kind::Verified:
    case UpdateResult::Kind::Written: {
        UpdateOutcome written = UpdateOutcome::verified("Update firmware successfully.");
        if (!result.leftCleanly)
            written.informative = QString::fromStdString(
                "The coupler did not leave BOOT cleanly (state " + result.deviceState
                + "); switch it off and on again to start the new firmware.");
        return written;
    }
    case UpdateResult::Kind::Aborted:
        return UpdateOutcome::aborted();
    case UpdateResult::Kind::Failed:
        break;
    }
    return UpdateOutcome::failed(UpdateOutcome::Icon::Critical, QString(), "Update Firmware failed.",
                                 QString::fromStdString(result.detail));
}
