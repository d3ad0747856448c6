#pragma once

#include <QMainWindow>

namespace Ui {
class TarnlowECAT;
}

class TarnlowECAT : public QMainWindow
{
    Q_OBJECT

public:
    explicit TarnlowECAT(QWidget *parent = nullptr);
    ~TarnlowECAT() override;

private:
    void loadFirmwareFolder();
    void loadSettings();

    Ui::TarnlowECAT *ui;
};
