#pragma once

#include <QString>
#include <QVector>

#include <pcap/pcap.h>

#include <set>
#include <string>

// One network adapter as the EtherCAT page offers it: a readable text, and the capture name
// that the master opens.
struct AdapterEntry {
    QString displayText;
    QString captureName;
    QString description;  // empty when the capture library has none
    // An adapter with an IPv4 address or the default route is a network of the plant or the
    // office, rarely the cable to an EtherCAT segment.
    bool carriesIpv4 = false;
    bool carriesDefaultRoute = false;
};

// The description without the wrapper "Network adapter '" ... "' on local host" (only when
// both ends are there); the capture name when there is no description.
QString adapterDisplayText(const char *captureName, const char *description);

// What the list shows: the description where the capture library has one; otherwise (as on
// Linux) the name with the adapter's MAC and IPv4 addresses, "eth1 — 00:1b:21:aa:bb:cc — no IPv4",
// so the EtherCAT adapter is not taken for the plant network's.
QString adapterDisplayText(const pcap_if_t &adapter);

// The capture name a stored text stands for: the name in front of the addresses.
QString captureNameOfDisplayText(const QString &displayText);

// Capture devices that cannot carry Ethernet frames (the "any" device, netfilter logs, D-Bus
// and Bluetooth monitors, USB monitors): left out of the list.
bool isPseudoAdapter(const char *captureName);

// `routed` names the interfaces that carry a default route.
QVector<AdapterEntry> adapterEntries(const pcap_if_t *adapters, const std::set<std::string> &routed = {});

// Lists the adapters with libpcap; false with the library's error text when it fails.
bool listAdapters(QVector<AdapterEntry> &entries, QString &error);

// The adapter to offer when the user has chosen none: the first that carries neither an IPv4
// address nor the default route; -1 when every one does, so nothing is chosen for the user.
int safeAdapterIndex(const QVector<AdapterEntry> &entries);

