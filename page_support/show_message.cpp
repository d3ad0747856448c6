#include "page_support/show_message.h"

#include <QCoreApplication>

void showMessage(QWidget *parent, QMessageBox::Icon icon, const QString &text)
{
    QMessageBox box(icon, QCoreApplication::applicationName(), text, QMessageBox::Ok, parent);
    box.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint
                       | Qt::WindowCloseButtonHint);
    box.exec();
}

void showMessageBox(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                    const QString &text, const QString &informativeText)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.setInformativeText(informativeText);
    box.exec();
}

void showOutcome(QWidget *parent, const UpdateOutcome &outcome)
{
    if (!outcome.showsBox())
        return;
    const QMessageBox::Icon icon = outcome.icon == UpdateOutcome::Icon::Information ? QMessageBox::Information
        : outcome.icon == UpdateOutcome::Icon::Warning ? QMessageBox::Warning : QMessageBox::Critical;
    const QString below = outcome.informative.isEmpty() || outcome.deviceState.isEmpty()
        ? outcome.informative + outcome.deviceState
        : outcome.informative + QLatin1Char('\n') + outcome.deviceState;
    showMessageBox(outcome.withoutParent ? nullptr : parent, icon,
                   outcome.title.isEmpty() ? QCoreApplication::applicationName() : outcome.title, outcome.text, below);
}
