#include "cli/device_record.h"

QString outcomeName(const DeviceRecord &record)
{
    switch (record.outcome.kind) {
    case UpdateOutcome::Kind::Verified:
        return record.readBack ? QStringLiteral("verified") : QStringLiteral("written");
    case UpdateOutcome::Kind::Failed:
        return QStringLiteral("failed");
    case UpdateOutcome::Kind::Aborted:
        return QStringLiteral("aborted");
    }
    return QString();
}
