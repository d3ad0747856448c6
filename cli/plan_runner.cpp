#include "cli/plan_runner.h"

#include "cli/device_run.h"

#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

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
        m_busy.erase(m_jobs[index].resource());
        if (record.outcome.kind != UpdateOutcome::Kind::Verified && m_options.stopOnFailure)
            m_failed = true;
        m_changed.notify_all();
    }

    QList<DeviceRecord> records() const { return m_records; }

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
    std::set<QString> m_busy;
    bool m_failed = false;
    QList<DeviceRecord> m_records;
};

void work(int worker, PlanState &state, const PlanOptions &options, ProgressDisplay &display,
          const std::function<bool()> &stopRequested, const QList<DeviceJob> &jobs)
{
    for (int index = state.take(stopRequested); index >= 0; index = state.take(stopRequested)) {
        DeviceJob job = jobs[index];
        if (job.kind == DeviceKind::Coupler)
            job.listenPort = options.listenPortBase ? options.listenPortBase + worker : 0;
        const std::unique_ptr<DeviceProgress> progress = display.track(index, job);
        const DeviceRecord record = runDevice(job, *progress);
        display.finished(index, record);
        state.done(index, record);
    }
}

}

QList<DeviceRecord> runPlan(const QList<DeviceJob> &jobs, const PlanOptions &options, ProgressDisplay &display,
                            const std::function<bool()> &stopRequested)
{
    PlanState state(jobs, options);
    std::vector<std::thread> workers;
    const int workerCount = qBound(1, options.jobs, int(jobs.size()));
    for (int worker = 0; worker < workerCount; ++worker)
        workers.emplace_back(work, worker, std::ref(state), std::cref(options), std::ref(display),
                             std::cref(stopRequested), std::cref(jobs));
    for (std::thread &thread : workers)
        thread.join();
    const QList<DeviceRecord> records = state.records();
    for (int index = 0; index < records.size(); ++index)
        if (!records[index].started.isValid())
            display.finished(index, records[index]);
    return records;
}
