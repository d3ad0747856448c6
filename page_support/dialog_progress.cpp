#include "page_support/dialog_progress.h"

#include "page_support/update_progress_dialog.h"

#include <QDebug>

void DialogProgress::phase(UpdatePhase phase, int module)
{
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
