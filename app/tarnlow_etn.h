#pragma once

#include <QMainWindow>

namespace Ui {
class TarnlowETN;
}

// The main window: one outer tab per coupler kind, the Ethernet coupler's tab split into the
// coupler and its modules, and the version line.
class TarnlowETN : public QMainWindow
{
    Q_OBJECT

public:
    explicit TarnlowETN(QWidget *parent = nullptr);
    ~TarnlowETN() override;

private:
    Ui::TarnlowETN *ui;
};
