#pragma once

#include "cli/device_progress.h"
#include "cli/device_record.h"
#include "core/fixed_waits.h"

#include <QElapsedTimer>

// One device's run as the engines report it: the phases timed into the record, the progress
// passed on in bytes.
class RunReport
{
public:
    RunReport(DeviceRecord &record, DeviceProgress &progress);

    // Ends the phase that runs and starts `name` (of `module`, on a range), unless `name` is
    // the one running.
    void phase(const QString &name, int module = 0);
    void bytes(qint64 done, qint64 total);
    // A wait for the engines that tells its countdown, second by second, as it blocks.
    Wait countedWait(const FixedWaits &waits);
    // A verified run has moved all its bytes, whatever step the engine counted last.
    void complete();
    // Whether the run must stop; the first time it must, the record keeps the phase that runs.
    bool stopRequested();
    // Ends the phase that runs.
    void finish();

private:
    DeviceRecord &m_record;
    DeviceProgress &m_progress;
    QElapsedTimer m_phaseClock;
    QString m_phase;
    QDateTime m_phaseStarted;
    int m_phaseModule = 0;
    qint64 m_total = 0;
};
