#include "page_support/update_progress_dialog.h"

#include <QProgressDialog>

QProgressDialog *UpdateProgressDialog::create(QWidget *parent, const QString &label, int maximum, TitleBar titleBar)
{
    auto *dialog = new QProgressDialog(label, QStringLiteral("Abort"), 0, maximum, parent);
    if (titleBar == TitleBar::CloseButtonOnly)
        dialog->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setMinimumDuration(0);
    return dialog;
}

void UpdateProgressDialog::show(QProgressDialog &dialog)
{
    dialog.show();
    dialog.resize(kWidth, kHeight);
}

void UpdateProgressDialog::setLabelText(QProgressDialog &dialog, const QString &text)
{
    dialog.setLabelText(text);
    dialog.resize(kWidth, kHeight);
}
