// Arbitrary bytes as a plan file: every line is either a device or a message naming the line.
#include "cli/plan_file.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    const PlanParse plan = parsePlan(text, QStringLiteral("/plans/fuzz.csv"));
    if (plan.error.isEmpty() == plan.jobs.isEmpty())
        __builtin_trap();   // a plan is either devices or a message, never both or neither
    return 0;
}
