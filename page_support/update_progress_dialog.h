#pragma once

class QProgressDialog;
class QString;
class QWidget;

// The dialog every page shows while an update runs: window-modal, with Abort, 400 x 100.
namespace UpdateProgressDialog {

constexpr int kWidth = 400;
constexpr int kHeight = 100;

enum class TitleBar { Standard, CloseButtonOnly };

// A new dialog with range 0 to `maximum` (0 to 0: busy), not shown yet. It has no minimum
// duration: only a dialog that has been shown processes events (and so notices Abort) each time
// its value is set.
QProgressDialog *create(QWidget *parent, const QString &label, int maximum, TitleBar titleBar);

// A QProgressDialog grows itself to its size hint when it is shown and whenever its label
// changes; these put the size back afterwards.
void show(QProgressDialog &dialog);
void setLabelText(QProgressDialog &dialog, const QString &text);

}
