// Arbitrary text as a scan range: either refused with a message, or a range of at most a /16
// whose ends are written back as the addresses they are.
#include "cli/scan_range.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    const ScanRange range = parseScanRange(text);
    if (!range.error.isEmpty())
        return 0;
    if (range.first > range.last || range.size() > (1u << 16))
        __builtin_trap();
    const ScanRange first = parseScanRange(ipv4Text(range.first));
    if (!first.error.isEmpty() || first.first != range.first)
        __builtin_trap();
    return 0;
}
