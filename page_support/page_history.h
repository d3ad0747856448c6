#pragma once

// A page's update in the history: its entries (one for each module of a range) written once the
// file is loaded, before anything is sent, and completed as the box is about to show.
#include "core/update_environment.h"
#include "core/update_outcome.h"
#include "history/update_history.h"

#include <QJsonArray>
#include <QList>

#include <functional>

struct HexImage;

class PageHistory
{
public:
    // `start` names the device (for a range, its first module) and the file; `modules` entries
    // are written, the module number counting up from the first.
    PageHistory(const UpdateEnvironment &environment, HistoryEntry start, const HexImage *image, int modules = 1);

    // Completes the entries: each module's outcome from `outcomeOf` (the shown one without it),
    // the phases of the run. Returns the outcome to show, told when the history could not keep
    // the update.
    UpdateOutcome finish(const UpdateOutcome &shown, const QJsonArray &phases,
                         const std::function<UpdateOutcome(int module)> &outcomeOf = {});

private:
    UpdateHistory m_history;
    QList<HistoryEntry> m_entries;
    QList<std::optional<qint64>> m_ids;
    QString m_notKept;
};

// The start of a page's entry: the surface, the kind and target, the file.
HistoryEntry pageHistoryStart(const QString &kind, const QString &target, const QString &firmwareFile);
