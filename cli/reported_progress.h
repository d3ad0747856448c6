#pragma once

// A run's progress as the command line reports it: each phase under the page's words for it,
// the engine's steps as bytes, counted forward only, and a stop when Ctrl-C asks for one. On a
// range of modules each module's steps start again at 0 while the bytes count on across the range.
#include "cli/run_report.h"
#include "core/update_tools.h"

#include <QString>

#include <functional>

class ReportedProgress : public UpdateProgress, public CancelToken
{
public:
    using PhaseLabel = std::function<QString(UpdatePhase phase, int module)>;

    // `bytesPerUnit` bytes go by while one device (or one module of a range) runs from 0 to its
    // maximum, or the steps are bytes themselves when it is 0; `units` of them make the whole run.
    // A kind whose phases the command line takes from elsewhere gives no `label`.
    ReportedProgress(RunReport &report, PhaseLabel label, qint64 bytesPerUnit, int units = 1);

    // The phase to name once the device's checks have passed (none when empty).
    void setChecksPassedPhase(const QString &name) { m_checksPassedPhase = name; }

    void checksPassed() override;
    void phase(UpdatePhase phase, int module) override;
    void setMaximum(int maximum) override { m_maximum = maximum; }
    void setValue(int value) override;
    bool requested() override { return m_report.stopRequested(); }

private:
    RunReport &m_report;
    PhaseLabel m_label;
    qint64 m_bytesPerUnit;
    int m_units;
    QString m_checksPassedPhase;
    int m_maximum = 0;
    int m_unitsStarted = 0;
    qint64 m_bytesDone = 0;
};
