#pragma once

#include <QString>
#include <QVector>

#include <pcap/pcap.h>

class QComboBox;

// One network adapter as the EtherCAT page offers it: a readable text, and the capture name
// that the master opens.
struct AdapterEntry {
    QString displayText;
    QString captureName;
    QString description;  // empty when the capture library has none
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

QVector<AdapterEntry> adapterEntries(const pcap_if_t *adapters);

// Lists the adapters with libpcap; false with the library's error text when it fails.
bool listAdapters(QVector<AdapterEntry> &entries, QString &error);

// Refills the combo box, printing the numbered list to standard output; the entry whose text
// equals the one shown before becomes current again (the last of several), or else the one of
// the same capture name.
void fillAdapterComboBox(QComboBox *comboBox, const QVector<AdapterEntry> &entries);
