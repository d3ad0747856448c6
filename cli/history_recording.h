#pragma once

#include "cli/device_record.h"
#include "history/history_writer.h"

#include <QList>

// One device's run in the update history: its entries (one for each module of a range) written
// as unfinished before anything is sent, and completed with the records the run ended with.
class HistoryRecording
{
public:
    HistoryRecording(HistoryWriter &history, const DeviceJob &job);
    // `records`: the run's records, one for each module of a range.
    void finish(const QList<DeviceRecord> &records);
    // Empty when every entry was kept; else why not.
    QString notKept() const { return m_notKept; }

private:
    HistoryWriter &m_history;
    QList<HistoryEntry> m_entries;
    QList<std::optional<qint64>> m_ids;
    QString m_notKept;
};

// What the history keeps of a record: the entry `start` completed.
HistoryEntry historyEntryOf(const DeviceRecord &record, HistoryEntry start);
