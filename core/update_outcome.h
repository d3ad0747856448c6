#pragma once

#include <QString>

// How an update ended, as the page shows it in its one message box, and as a record of the run
// keeps it. An outcome without text shows no box (most pages say nothing after Abort).
struct UpdateOutcome {
    enum class Kind { Verified, Failed, Aborted };
    enum class Icon { Information, Warning, Critical };

    Kind kind = Kind::Failed;
    Icon icon = Icon::Critical;
    QString title;        // empty: the application's name
    QString text;
    QString informative;  // what else is known, for the technician
    bool withoutParent = false;  // the box stands alone rather than over the page
    // What the device runs now and the next step, where the run knows; below the informative
    // text in the box.
    QString deviceState;
    // The device's flash was read back and compared with the file (equal or not).
    bool readBack = false;

    static UpdateOutcome verified(const QString &text, const QString &title = QString())
    {
        return {Kind::Verified, Icon::Information, title, text, QString(), false, QString(), false};
    }
    static UpdateOutcome failed(Icon icon, const QString &title, const QString &text,
                                const QString &informative = QString())
    {
        return {Kind::Failed, icon, title, text, informative, false, QString(), false};
    }
    static UpdateOutcome aborted(const QString &text = QString())
    {
        return {Kind::Aborted, Icon::Information, QString(), text, QString(), false, QString(), false};
    }
    bool showsBox() const { return !text.isEmpty(); }
    // "verified", "failed" or "aborted", as the report and the history name an outcome; a
    // success without read-back is "written".
    QString name() const
    {
        switch (kind) {
        case Kind::Verified:
            return readBack ? QStringLiteral("verified") : QStringLiteral("written");
        case Kind::Failed:
            return QStringLiteral("failed");
        case Kind::Aborted:
            break;
        }
        return QStringLiteral("aborted");
    }
};
