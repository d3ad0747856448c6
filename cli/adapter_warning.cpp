#include "cli/adapter_warning.h"

#include <cstdio>

QString plantAdapterWarning(const QString &adapter, const QVector<AdapterEntry> &entries)
{
    for (const AdapterEntry &entry : entries) {
        if (entry.captureName != adapter || (!entry.carriesIpv4 && !entry.carriesDefaultRoute))
            continue;
        const QString carries = entry.carriesIpv4 && entry.carriesDefaultRoute
            ? QStringLiteral("an IPv4 address and the default route")
            : entry.carriesIpv4 ? QStringLiteral("an IPv4 address") : QStringLiteral("the default route");
        return QStringLiteral("warning: the network adapter %1 carries %2 (%3): make sure it is the cable to the "
                              "EtherCAT segment, not the plant network")
            .arg(adapter, carries, entry.displayText);
    }
    return QString();
}

void warnOfPlantAdapter(const QString &adapter)
{
    QVector<AdapterEntry> entries;
    QString error;
    if (!listAdapters(entries, error))
        return;
    const QString warning = plantAdapterWarning(adapter, entries);
    if (!warning.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(warning));
}
