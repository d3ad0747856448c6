#include "cli/plan_runner.h"

#include "cli/device_run.h"
#include "cli/history_recording.h"
#include "cli/records_per_module.h"

#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

// What the workers share: which device is next, which resources are busy, the records.
class PlanState
{
public:
    PlanState(const QList<DeviceJob> &jobs, const PlanOptions &options) : m_jobs(jobs), m_options(options)
    {
        m_records.reserve(jobs.size());
        for (const DeviceJob &job : jobs) {
            DeviceRecord record;
            record.job = job;
            m_records.append(record);
        }
    }

    // The index of a device whose resource is free, -1 when none is left to start. Waits while
    // every remaining device needs a busy resource.
    int take(const std::function<bool()> &stopRequested)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            if (stopRequested() || m_failed) {
                markUnstarted(stopRequested() ? QStringLiteral("Not started: interrupted.")
                                              : QStringLiteral("Not started: an earlier device failed."));
                return -1;
            }
            bool anyLeft = false;
            for (int index = 0; index < m_jobs.size(); ++index) {
                if (m_started.count(index))
                    continue;
                anyLeft = true;
                if (!m_busy.count(m_jobs[index].resource())) {
                    m_started.insert(index);
                    m_busy.insert(m_jobs[index].resource());
                    return index;
                }
            }
            if (!anyLeft)
                return -1;
            m_changed.wait(lock);
        }
    }

    void done(int index, const DeviceRecord &record)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_records[index] = record;
        m_finished.insert(index);
        m_busy.erase(m_jobs[index].resource());
        if (record.outcome.kind != UpdateOutcome::Kind::Verified && m_options.stopOnFailure)
            m_failed = true;
        m_changed.notify_all();
    }

    QList<DeviceRecord> records() const { return m_records; }

    QList<DeviceRecord> recordsSoFar()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        QList<DeviceRecord> records = m_records;
        for (int index = 0; index < records.size(); ++index) {
            if (m_finished.count(index))
                continue;
            records[index].outcome = UpdateOutcome::aborted(
                m_started.count(index) && records[index].outcome.text.isEmpty()
                    ? QStringLiteral("Interrupted again while it ran: what it runs now is not known; run its update "
                                     "again.")
                    : QStringLiteral("Not started: interrupted."));
        }
        return records;
    }

private:
    void markUnstarted(const QString &why)
    {
        for (int index = 0; index < m_jobs.size(); ++index) {
            if (m_started.insert(index).second) {
                m_records[index].outcome = UpdateOutcome::aborted(why);
            }
        }
        m_changed.notify_all();
    }

    const QList<DeviceJob> &m_jobs;
    const PlanOptions &m_options;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::set<int> m_started;
    std::set<int> m_finished;
    std::set<QString> m_busy;
    bool m_failed = false;
    QList<DeviceRecord> m_records;
};

namespace {

void work(int worker, PlanState &state, const PlanOptions &options, FirmwareFiles &files, HistoryWriter &history,
          ProgressDisplay &display, const std::function<bool()> &stopRequested, const QList<DeviceJob> &jobs)
{
    for (int index = state.take(stopRequested); index >= 0; index = state.take(stopRequested)) {
        DeviceJob job = jobs[index];
        if (job.kind == DeviceKind::Coupler)
            job.listenPort = options.listenPortBase ? options.listenPortBase + worker : 0;
        const std::unique_ptr<DeviceProgress> progress = display.track(index, job);
        HistoryRecording recording(history, job);
        DeviceRecord record = runDevice(job, *progress, files);
        const QList<DeviceRecord> perDevice = recordsPerDevice(record);
        recording.finish(perDevice);
        record.historyNotKept = recording.notKept();
        for (const DeviceRecord &each : perDevice)
            display.finished(index, each);
        state.done(index, record);
    }
}

}

PlanRun::PlanRun(const QList<DeviceJob> &jobs, const PlanOptions &options, std::shared_ptr<FirmwareFiles> files)
    : m_jobs(jobs), m_options(options), m_files(std::move(files)), m_state(std::make_unique<PlanState>(m_jobs, m_options))
{
}

PlanRun::~PlanRun() = default;

QList<DeviceRecord> PlanRun::run(ProgressDisplay &display, const std::function<bool()> &stopRequested)
{
    std::vector<std::thread> workers;
    const int workerCount = qBound(1, m_options.jobs, int(m_jobs.size()));
    HistoryWriter history(m_jobs.isEmpty() ? QString() : m_jobs.first().environment.historyFile);
    for (int worker = 0; worker < workerCount; ++worker)
        workers.emplace_back(work, worker, std::ref(*m_state), std::cref(m_options), std::ref(*m_files), std::ref(history),
                             std::ref(display), std::cref(stopRequested), std::cref(m_jobs));
    for (std::thread &thread : workers)
        thread.join();
    const QList<DeviceRecord> records = m_state->records();
    for (int index = 0; index < records.size(); ++index)
        if (!records[index].started.isValid())
            for (const DeviceRecord &each : recordsPerDevice(records[index]))
                display.finished(index, each);
    return recordsPerDevice(records);
}

QList<DeviceRecord> PlanRun::recordsSoFar() const
{
    return recordsPerDevice(m_state->recordsSoFar());
}
