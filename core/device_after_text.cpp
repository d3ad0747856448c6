#include "core/device_after_text.h"

#include <QStringList>

namespace {

using After = UpdateResult::DeviceAfter;

QString predicate(After after, bool plural)
{
    switch (after) {
    case After::Untouched:
        return plural ? QStringLiteral("were not touched: they run the firmware they ran before")
                      : QStringLiteral("was not touched: it runs the firmware it ran before");
    case After::InBootLoader:
        return plural ? QStringLiteral("are in their boot loaders, their firmware erased or incomplete: run the "
                                       "update again")
                      : QStringLiteral("is in its boot loader, its firmware erased or incomplete: run the update again");
    case After::Unanswered:
        return plural ? QStringLiteral("did not answer after the request to enter their boot loaders: check them "
                                       "and run the update again")
                      : QStringLiteral("did not answer after the request to enter its boot loader: check it and "
                                       "run the update again");
    case After::NewFirmware:
        return plural ? QStringLiteral("run the new firmware") : QStringLiteral("runs the new firmware");
    case After::NewFirmwareUnconfirmed:
        return QStringLiteral("did not confirm that the new firmware, written and verified, runs: switch %1 off and "
                              "on")
            .arg(plural ? QStringLiteral("them") : QStringLiteral("it"));
    case After::Unknown:
        break;
    }
    return plural ? QStringLiteral("are in a state not known: run the update again")
                  : QStringLiteral("is in a state not known: run the update again");
}

QString capitalized(const QString &text)
{
    return text.left(1).toUpper() + text.mid(1);
}

}

QString deviceAfterText(After after, const QString &device)
{
    if (after == After::Unknown)
        return QString();
    return capitalized(device + QLatin1Char(' ') + predicate(after, false)) + QLatin1Char('.');
}

QString rangeAfterText(const std::vector<After> &after, int first, const QString &noun)
{
    QStringList parts;
    for (size_t begin = 0; begin < after.size();) {
        size_t end = begin + 1;
        while (end < after.size() && after[end] == after[begin])
            ++end;
        const int from = first + int(begin);
        const int to = first + int(end) - 1;
        const QString subject = from == to ? QStringLiteral("%1 %2").arg(noun).arg(from)
                                           : QStringLiteral("%1s %2-%3").arg(noun).arg(from).arg(to);
        parts << subject + QLatin1Char(' ') + predicate(after[begin], from != to);
        begin = end;
    }
    return parts.isEmpty() ? QString() : capitalized(parts.join(QStringLiteral("; "))) + QLatin1Char('.');
}

UpdateOutcome withDeviceFacts(UpdateOutcome box, const UpdateResult &result, const QString &deviceState)
{
    box.deviceState = deviceState;
    box.readBack = result.kind == UpdateResult::Kind::Verified || result.cause == UpdateResult::Cause::FlashDiffers;
    return box;
}
