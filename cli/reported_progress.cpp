#include "cli/reported_progress.h"

ReportedProgress::ReportedProgress(RunReport &report, PhaseLabel label, qint64 bytesPerUnit, int units)
    : m_report(report), m_label(std::move(label)), m_bytesPerUnit(bytesPerUnit), m_units(units)
{
}

void ReportedProgress::checksPassed()
{
    if (!m_checksPassedPhase.isEmpty())
        m_report.phase(m_checksPassedPhase);
}

void ReportedProgress::phase(UpdatePhase phase, int module)
{
    if (phase == UpdatePhase::Writing)
        ++m_unitsStarted;
    if (m_label)
        m_report.phase(m_label(phase, module), module);
}

void ReportedProgress::setValue(int value)
{
    if (m_maximum <= 0)
        return;
    const qint64 perUnit = m_bytesPerUnit > 0 ? m_bytesPerUnit : m_maximum;
    // The unit that runs is the last one whose writing began.
    const qint64 earlierUnits = perUnit * qMax(0, m_unitsStarted - 1);
    // The count only goes forward: a module's first value comes before its writing is named.
    m_bytesDone = qMax(m_bytesDone, earlierUnits + qMin<qint64>(value, m_maximum) * perUnit / m_maximum);
    m_report.bytes(m_bytesDone, perUnit * m_units);
}
