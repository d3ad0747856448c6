#pragma once

class QProgressDialog;
class QString;

// Every update dialog is 400 x 100. A QProgressDialog grows itself to its size hint when it is
// shown and whenever its label changes; these put the size back afterwards.
namespace ProgressDialogSize {

constexpr int kWidth = 400;
constexpr int kHeight = 100;

// Shows the dialog at 400 x 100.
void show(QProgressDialog &dialog);
// Changes the label and keeps 400 x 100.
void setLabelText(QProgressDialog &dialog, const QString &text);

}
