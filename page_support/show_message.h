#pragma once

#include "core/update_outcome.h"

#include <QMessageBox>

class QWidget;

// A modal box titled with the application name, with one Ok button and no context-help button.
// Returns when the user has closed it.
void showMessage(QWidget *parent, QMessageBox::Icon icon, const QString &text);

// A modal box with a title of its own and one Ok button; what else is known about the failure
// (the OS error, the reply that did not fit) goes below the text as its informative text.
void showMessageBox(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                    const QString &text, const QString &informativeText = QString());

// The one box of an update's outcome, titled with the application's name unless it has a title
// of its own; nothing for an outcome without text.
void showOutcome(QWidget *parent, const UpdateOutcome &outcome);
