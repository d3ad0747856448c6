#include "page_support/dialog_progress.h"

#include "page_support/update_progress_dialog.h"

#include <QDebug>
#include <QJsonObject>

void DialogProgress::mark(UpdatePhase phase, int module)
{
    const QString name = label(phase, module);
    if (m_marks.isEmpty() || m_marks.last().name != name || m_marks.last().module != module)
        m_marks.append({name, module, QDateTime::currentDateTimeUtc()});
}

QJsonArray DialogProgress::timedPhases() const
{
    QJsonArray phases;
    for (int i = 0; i < m_marks.size(); ++i) {
        const QDateTime ended = i + 1 < m_marks.size() ? m_marks[i + 1].started : QDateTime::currentDateTimeUtc();
        phases.append(QJsonObject{{"name", m_marks[i].name},
                                  {"milliseconds", m_marks[i].started.msecsTo(ended)},
                                  {"started", m_marks[i].started.toString(Qt::ISODateWithMs)},
                                  {"module", m_marks[i].module}});
    }
    return phases;
}

void DialogProgress::phase(UpdatePhase phase, int module)
{
    mark(phase, module);
    if (!m_dialog)
        return;
    UpdateProgressDialog::setLabelText(*m_dialog, label(phase, module));
    if (phase == UpdatePhase::Writing)
        UpdateProgressDialog::show(*m_dialog);
}

void DialogProgress::setMaximum(int maximum)
{
    m_maximum = maximum;
    if (m_dialog)
        m_dialog->setRange(0, maximum);
}

void DialogProgress::setValue(int value)
{
    if (m_dialog)
        m_dialog->setValue(value);
}

DiagnosticLog debugLog()
{
    return [](const std::string &line) { qDebug().noquote() << QString::fromStdString(line); };
}
