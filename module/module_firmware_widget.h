#pragma once

#include <QWidget>

namespace Ui {
class ModuleFirmwareWidget;
}

class ModuleFirmwareWidget : public QWidget
{
    Q_OBJECT

public:
    explicit ModuleFirmwareWidget(QWidget *parent = nullptr);
    ~ModuleFirmwareWidget() override;

private:
    void loadFirmwareFolder();
    void loadSettings();

    Ui::ModuleFirmwareWidget *ui;
};
