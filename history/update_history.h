#pragma once

#include "history/history_entry.h"

#include <QList>
#include <QString>

#include <optional>
#include <vector>

// The update history in one SQLite file that the pages and any number of command-line jobs write
// at once: write-ahead log, a busy time-out, one connection per object, so each thread makes its
// own. Nothing here ever stops an update: a history that cannot be used says why in lastError().
class UpdateHistory
{
public:
    // history.sqlite in the user's data folder.
    static QString defaultFile();

    // `file` empty: defaultFile(). Opened on first use.
    explicit UpdateHistory(const QString &file = QString());
    ~UpdateHistory();
    UpdateHistory(const UpdateHistory &) = delete;
    UpdateHistory &operator=(const UpdateHistory &) = delete;

    // A new entry (no id) or the completion of one written before.
    struct Change {
        std::optional<qint64> id;
        HistoryEntry entry;
    };

    // Writes the entry as unfinished; its id, or nothing when it could not be kept.
    std::optional<qint64> begin(const HistoryEntry &entry);
    // Completes the entry written by begin() with what the update ended with.
    bool finish(qint64 id, const HistoryEntry &entry);
    // All of `changes` in one transaction, so one commit (and one flush to the disk) for them
    // all: the ids of the entries, or nothing at all when they could not be kept.
    std::optional<std::vector<qint64>> write(const std::vector<Change> &changes);
    // Newest first; nothing (and lastError()) when the history cannot be read.
    std::optional<QList<HistoryEntry>> list(const HistoryFilter &filter);

    QString file() const { return m_file; }
    QString lastError() const { return m_lastError; }

private:
    bool open();
    bool fail(const QString &why);
    std::optional<qint64> insert(const HistoryEntry &entry);
    bool update(qint64 id, const HistoryEntry &entry);

    QString m_file;
    QString m_connection;
    bool m_open = false;
    QString m_lastError;
};
