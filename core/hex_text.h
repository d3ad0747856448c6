#pragma once

#include <QString>

// "0x0A31": a register or header value as technicians read it, upper-case digits, `digits` wide.
inline QString hexText(quint32 value, int digits)
{
    return QStringLiteral("0x") + QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}
