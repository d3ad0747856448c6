#include "history/history_writer.h"

HistoryWriter::HistoryWriter(const QString &file) : m_thread(&HistoryWriter::writeWhatComes, this, file) {}

HistoryWriter::~HistoryWriter()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_arrived.notify_one();
    m_thread.join();
}

std::optional<qint64> HistoryWriter::begin(const HistoryEntry &entry, QString &notKept)
{
    const Written written = hand({std::nullopt, entry});
    notKept = written.notKept;
    return written.id;
}

bool HistoryWriter::finish(qint64 id, const HistoryEntry &entry, QString &notKept)
{
    const Written written = hand({id, entry});
    notKept = written.notKept;
    return written.id.has_value();
}

HistoryWriter::Written HistoryWriter::hand(UpdateHistory::Change change)
{
    std::future<Written> written;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.push_back({std::move(change), {}});
        written = m_pending.back().written.get_future();
    }
    m_arrived.notify_one();
    return written.get();
}

// The connection is made and used on this thread only. A batch that cannot be written is told
// to every job that handed a part of it in.
void HistoryWriter::writeWhatComes(QString file)
{
    UpdateHistory history(file);
    for (;;) {
        std::deque<Pending> batch;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_arrived.wait(lock, [this] { return m_stopping || !m_pending.empty(); });
            if (m_pending.empty())
                return;
            batch.swap(m_pending);
        }
        std::vector<UpdateHistory::Change> changes;
        for (const Pending &pending : batch)
            changes.push_back(pending.change);
        const std::optional<std::vector<qint64>> ids = history.write(changes);
        for (size_t i = 0; i < batch.size(); ++i)
            batch[i].written.set_value(ids ? Written{(*ids)[i], QString()} : Written{std::nullopt, history.lastError()});
    }
}
