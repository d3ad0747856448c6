#pragma once

#include <QWidget>

namespace Ui {
class CouplerFirmwareWidget;
}

class CouplerFirmwareWidget : public QWidget
{
    Q_OBJECT

public:
    explicit CouplerFirmwareWidget(QWidget *parent = nullptr);
    ~CouplerFirmwareWidget() override;

private:
    void loadFirmwareFolder();
    void loadSettings();

    Ui::CouplerFirmwareWidget *ui;
};
