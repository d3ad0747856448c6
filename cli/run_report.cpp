#include "cli/run_report.h"

RunReport::RunReport(DeviceRecord &record, DeviceProgress &progress) : m_record(record), m_progress(progress)
{
}

void RunReport::phase(const QString &name, int module)
{
    if (name == m_phase)
        return;
    finish();
    m_phase = name;
    m_phaseModule = module;
    m_phaseStarted = QDateTime::currentDateTimeUtc();
    m_phaseClock.start();
    m_progress.phaseStarted(name);
}

bool RunReport::stopRequested()
{
    const bool stop = m_progress.stopRequested();
    if (stop && m_record.stoppedIn.isEmpty())
        m_record.stoppedIn = m_phase;
    return stop;
}

void RunReport::bytes(qint64 done, qint64 total)
{
    m_total = total;
    m_progress.bytesDone(done, total);
}

Wait RunReport::countedWait(const FixedWaits &waits)
{
    return [this, waits](int milliseconds) {
        constexpr int kSliceMs = 1000;
        const FixedWaits exact;   // the slices are of the wait as it lasts here
        for (int left = waits.effective(milliseconds); left > 0; left -= kSliceMs) {
            m_progress.waiting(left);
            exact.block(qMin(left, kSliceMs));
        }
        m_progress.waiting(0);
    };
}

void RunReport::complete()
{
    if (m_total > 0)
        m_progress.bytesDone(m_total, m_total);
}

void RunReport::finish()
{
    if (m_phase.isEmpty())
        return;
    m_record.phases.append({m_phase, m_phaseClock.elapsed(), m_phaseStarted, m_phaseModule});
    m_phase.clear();
}
