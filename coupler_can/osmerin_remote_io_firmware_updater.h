#pragma once

#include <QMainWindow>

namespace Ui {
class OsmerinRemoteIOFirmwareUpdater;
}

class OsmerinRemoteIOFirmwareUpdater : public QMainWindow
{
    Q_OBJECT

public:
    explicit OsmerinRemoteIOFirmwareUpdater(QWidget *parent = nullptr);
    ~OsmerinRemoteIOFirmwareUpdater() override;

private:
    void loadFirmwareFolder();
    void loadSettings();

    Ui::OsmerinRemoteIOFirmwareUpdater *ui;
};
