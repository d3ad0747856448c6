#pragma once

// The update history as `tarnlow-cli history` prints or exports it.
#include "history/history_entry.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Aligned columns, newest first, times in local time; a line saying so when there is nothing.
QString historyTable(const QList<HistoryEntry> &entries);
// A JSON array, one object per update, keys as in the run report.
QByteArray historyJson(const QList<HistoryEntry> &entries);
// Comma-separated values with a header line (RFC 4180, times in UTC) for a maintenance log. A
// text that a spreadsheet would take for a formula is kept as text.
QByteArray historyCsv(const QList<HistoryEntry> &entries);
