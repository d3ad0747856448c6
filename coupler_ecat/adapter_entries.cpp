#include "coupler_ecat/adapter_entries.h"

#include "platform/default_route.h"

#include <QStringList>

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <netinet/in.h>

#include <cstring>

namespace {
const QString wrapperStart = QStringLiteral("Network adapter '");
const QString wrapperEnd = QStringLiteral("' on local host");
const char *const pseudoAdapterPrefixes[] = {"nflog", "nfqueue", "dbus-", "bluetooth", "usbmon"};
constexpr char anyAdapter[] = "any";
}

QString adapterDisplayText(const char *captureName, const char *description)
{
    if (!description || !*description)
        return QString::fromUtf8(captureName);
    QString text = QString::fromUtf8(description);
    if (text.startsWith(wrapperStart) && text.endsWith(wrapperEnd)
        && text.size() >= wrapperStart.size() + wrapperEnd.size())
        text = text.mid(wrapperStart.size(), text.size() - wrapperStart.size() - wrapperEnd.size());
    return text;
}

namespace {

const QString addressSeparator = QStringLiteral(" \u2014 ");

QString macAddress(const sockaddr_ll &link)
{
    QStringList bytes;
    for (int i = 0; i < link.sll_halen && i < 8; ++i)
        bytes << QString::asprintf("%02x", link.sll_addr[i]);
    return bytes.join(':');
}

}

QString adapterDisplayText(const pcap_if_t &adapter)
{
    if (adapter.description && *adapter.description)
        return adapterDisplayText(adapter.name, adapter.description);
    QString mac;
    QStringList ipv4;
    for (const pcap_addr_t *address = adapter.addresses; address; address = address->next) {
        if (!address->addr)
            continue;
        if (address->addr->sa_family == AF_PACKET)
            mac = macAddress(*reinterpret_cast<const sockaddr_ll *>(address->addr));
        else if (address->addr->sa_family == AF_INET) {
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(address->addr)->sin_addr, text, sizeof text);
            ipv4 << QString::fromLatin1(text);
        }
    }
    QStringList parts = {QString::fromUtf8(adapter.name)};
    if (!mac.isEmpty())
        parts << mac;
    parts << (ipv4.isEmpty() ? QStringLiteral("no IPv4") : ipv4.join(", "));
    return parts.join(addressSeparator);
}

QString captureNameOfDisplayText(const QString &displayText)
{
    return displayText.section(addressSeparator, 0, 0);
}

bool isPseudoAdapter(const char *captureName)
{
    if (std::strcmp(captureName, anyAdapter) == 0)
        return true;
    for (const char *prefix : pseudoAdapterPrefixes)
        if (std::strncmp(captureName, prefix, std::strlen(prefix)) == 0)
            return true;
    return false;
}

namespace {

bool hasIpv4(const pcap_if_t &adapter)
{
    for (const pcap_addr_t *address = adapter.addresses; address; address = address->next)
        if (address->addr && address->addr->sa_family == AF_INET)
            return true;
    return false;
}

}

QVector<AdapterEntry> adapterEntries(const pcap_if_t *adapters, const std::set<std::string> &routed)
{
    QVector<AdapterEntry> entries;
    for (const pcap_if_t *adapter = adapters; adapter; adapter = adapter->next) {
        if (!adapter->name || isPseudoAdapter(adapter->name))
            continue;
        entries.append({adapterDisplayText(*adapter),
                        QString::fromUtf8(adapter->name),
                        QString::fromUtf8(adapter->description ? adapter->description : ""),
                        hasIpv4(*adapter),
                        routed.count(adapter->name) > 0});
    }
    return entries;
}

bool listAdapters(QVector<AdapterEntry> &entries, QString &error)
{
    pcap_if_t *adapters = nullptr;
    char message[PCAP_ERRBUF_SIZE] = "";
    if (pcap_findalldevs(&adapters, message) == -1) {
        error = QString::fromUtf8(message);
        return false;
    }
    entries = adapterEntries(adapters, defaultRouteInterfaces());
    pcap_freealldevs(adapters);
    return true;
}

int safeAdapterIndex(const QVector<AdapterEntry> &entries)
{
    for (int i = 0; i < entries.size(); ++i)
        if (!entries[i].carriesIpv4 && !entries[i].carriesDefaultRoute)
            return i;
    return -1;
}
