#pragma once

#include <QMessageBox>

class QWidget;

// A modal box titled with the application name, with one Ok button and no context-help button.
// Returns when the user has closed it.
void showMessage(QWidget *parent, QMessageBox::Icon icon, const QString &text);
