#include "cli/device_record.h"

QString outcomeName(UpdateOutcome::Kind kind)
{
    switch (kind) {
    case UpdateOutcome::Kind::Verified:
        return QStringLiteral("verified");
    case UpdateOutcome::Kind::Failed:
        return QStringLiteral("failed");
    case UpdateOutcome::Kind::Aborted:
        return QStringLiteral("aborted");
    }
    return QString();
}
