#pragma once

// The IPv4 addresses `tarnlow-cli scan coupler` tries: a range in CIDR notation (192.168.1.0/24)
// or one address. Plain text in, plain numbers out, so every rule below is checked without a
// network.
#include <QString>

#include <cstdint>

struct ScanRange {
    // The largest range one scan takes: a /16, 65,536 addresses. Even then, at the bounded
    // number of connections a scan opens at once, a range without devices takes minutes; a
    // larger one is almost always a mistyped prefix.
    static constexpr int kShortestPrefix = 16;

    uint32_t first = 0;   // the first and last address tried, host byte order
    uint32_t last = 0;
    QString error;        // why the text is not a range to scan; empty when it is

    // How many addresses the scan tries.
    uint32_t size() const { return error.isEmpty() ? last - first + 1 : 0; }
};

// "A.B.C.D/N" or "A.B.C.D" (the one address): four decimal octets 0-255 without leading zeros
// (010 would be octal to some tools and decimal to others), a prefix 0-32. Host bits set under
// the prefix are refused, naming the range meant, rather than masked away: 192.168.1.77/24 is
// more likely a typing slip than a wish to scan 192.168.1.0/24. A prefix shorter than /16 is
// refused with the reason. Below /31 the network and broadcast addresses are left out; a /31
// holds two hosts, a /32 one.
ScanRange parseScanRange(const QString &text);

// "192.168.1.10".
QString ipv4Text(uint32_t address);
