#pragma once

#include "history/update_history.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

// The update history written by the many jobs of one program through one connection on a thread
// of its own. What the jobs hand in while one transaction is being written goes together into
// the next, so 256 jobs that start at once cost a few commits rather than 256, each waiting its
// turn for the file. Each call returns once its change is on the disk.
class HistoryWriter
{
public:
    explicit HistoryWriter(const QString &file);
    ~HistoryWriter();
    HistoryWriter(const HistoryWriter &) = delete;
    HistoryWriter &operator=(const HistoryWriter &) = delete;

    // The entry written as unfinished: its id, or nothing and why not in `notKept`.
    std::optional<qint64> begin(const HistoryEntry &entry, QString &notKept);
    // The entry completed; false and why not in `notKept`.
    bool finish(qint64 id, const HistoryEntry &entry, QString &notKept);

private:
    struct Written {
        std::optional<qint64> id;
        QString notKept;
    };
    struct Pending {
        UpdateHistory::Change change;
        std::promise<Written> written;
    };

    Written hand(UpdateHistory::Change change);
    void writeWhatComes(QString file);

    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<Pending> m_pending;
    bool m_stopping = false;
    std::thread m_thread;
};
