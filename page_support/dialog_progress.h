#pragma once

// A run's progress on a page's window-modal progress dialog, and Abort read from it: each phase
// sets the dialog's label in the page's words, the writing phase shows the dialog, and setting
// a value is where the dialog processes events and so notices Abort.
#include "core/update_tools.h"

#include <QDateTime>
#include <QJsonArray>
#include <QList>
#include <QPointer>
#include <QProgressDialog>
#include <QString>

#include <functional>

class DialogProgress : public UpdateProgress, public CancelToken
{
public:
    using PhaseLabel = std::function<QString(UpdatePhase phase, int module)>;

    explicit DialogProgress(PhaseLabel label) : m_label(std::move(label)) {}

    // The dialog the run shows from now on.
    void attach(QProgressDialog &dialog) { m_dialog = &dialog; }

    void phase(UpdatePhase phase, int module) override;
    void setMaximum(int maximum) override;
    void setValue(int value) override;
    // Nothing can be cancelled before the run has a dialog.
    bool requested() override { return m_dialog && m_dialog->wasCanceled(); }
    // The phases so far as the update history keeps them, in the dialog's words, the last one
    // ending now.
    QJsonArray timedPhases() const;

protected:
    // Notes the start of a phase for the history.
    void mark(UpdatePhase phase, int module);
    bool hasDialog() const { return !m_dialog.isNull(); }
    int maximum() const { return m_maximum; }
    QString label(UpdatePhase phase, int module) const { return m_label(phase, module); }

private:
    PhaseLabel m_label;
    QPointer<QProgressDialog> m_dialog;
    int m_maximum = 0;
    struct Mark {
        QString name;
        int module;
        QDateTime started;
    };
    QList<Mark> m_marks;
};

// The engines' timing and mode lines, on the debug log.
DiagnosticLog debugLog();
