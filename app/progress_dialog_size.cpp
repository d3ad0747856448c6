#include "app/progress_dialog_size.h"

#include <QProgressDialog>

void ProgressDialogSize::show(QProgressDialog &dialog)
{
    dialog.show();
    dialog.resize(kWidth, kHeight);
}

void ProgressDialogSize::setLabelText(QProgressDialog &dialog, const QString &text)
{
    dialog.setLabelText(text);
    dialog.resize(kWidth, kHeight);
}
