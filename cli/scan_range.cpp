#include "cli/scan_range.h"

#include <QRegularExpression>
#include <QStringList>

#include <optional>

namespace {

// A decimal number of at most `maximum` without sign, spaces or leading zeros.
std::optional<uint32_t> strictNumber(const QString &text, uint32_t maximum)
{
    static const QRegularExpression digits(QStringLiteral("^(0|[1-9][0-9]{0,2})$"));
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    const uint32_t value = text.toUInt();
    if (value > maximum)
        return std::nullopt;
    return value;
}

std::optional<uint32_t> addressOf(const QString &text)
{
    const QStringList octets = text.split(QLatin1Char('.'));
    if (octets.size() != 4)
        return std::nullopt;
    uint32_t address = 0;
    for (const QString &octet : octets) {
        const std::optional<uint32_t> value = strictNumber(octet, 255);
        if (!value)
            return std::nullopt;
        address = (address << 8) | *value;
    }
    return address;
}

uint32_t maskOf(int prefix)
{
    return prefix == 0 ? 0 : ~uint32_t(0) << (32 - prefix);
}

ScanRange refused(const QString &why)
{
    ScanRange range;
    range.error = why;
    return range;
}

}

QString ipv4Text(uint32_t address)
{
    return QStringLiteral("%1.%2.%3.%4").arg(address >> 24).arg((address >> 16) & 0xFF).arg((address >> 8) & 0xFF).arg(address & 0xFF);
}

ScanRange parseScanRange(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('/'));
    const std::optional<uint32_t> address = addressOf(parts[0]);
    const std::optional<uint32_t> prefix = parts.size() == 2 ? strictNumber(parts[1], 32) : std::optional<uint32_t>(32);
    if (parts.size() > 2 || !address || !prefix)
        return refused(QStringLiteral("\"%1\" is not an IPv4 range: expected A.B.C.D/N (octets 0 to 255, N 0 to 32) "
                                      "or one address A.B.C.D").arg(text));
    if (int(*prefix) < ScanRange::kShortestPrefix)
        return refused(QStringLiteral("%1 holds %2 addresses; a scan takes a /16 (65,536 addresses) at most, so that "
                                      "a mistyped prefix does not set off hours of connection attempts: scan it as "
                                      "several /16 ranges")
                           .arg(text).arg(qulonglong(1) << (32 - *prefix)));
    const uint32_t mask = maskOf(int(*prefix));
    if ((*address & ~mask) != 0)
        return refused(QStringLiteral("%1 has host bits set: the range of that address is %2/%3")
                           .arg(text, ipv4Text(*address & mask)).arg(*prefix));
    ScanRange range;
    range.first = *address;
    range.last = *address | ~mask;
    // The network's own address and its broadcast address are no device's.
    if (*prefix < 31) {
        ++range.first;
        --range.last;
    }
    return range;
}
