#pragma once

#include "core/update_environment.h"
#include "firmware/hex_image.h"

#include <QMainWindow>

#include <cstdint>
#include <memory>
#include <vector>

class CANopenCOMM;
class QProgressDialog;
class CanopenUpdateSession;

namespace Ui {
class OsmerinRemoteIOFirmwareUpdater;
}

// The "COP" page: updates the CANopen coupler over its USB virtual COM port.
class OsmerinRemoteIOFirmwareUpdater : public QMainWindow
{
    Q_OBJECT

public:
    // The update runs with `environment`: the product's waits and folders unless given others.
    explicit OsmerinRemoteIOFirmwareUpdater(QWidget *parent = nullptr,
                                            const UpdateEnvironment &environment = UpdateEnvironment());
    ~OsmerinRemoteIOFirmwareUpdater() override;

    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void on_button_update_clicked();

private:
    void loadFirmwareFolder();
    void loadSettings();
    void saveSettings();
    void refreshComPorts();
    // Opens the chosen port for this update; null (after its box) when none is chosen or it did
    // not open.
    CANopenCOMM *openSerial();

    // The update proper: settings, image, progress dialog, the engine's run and its one box.
    void burnFirmware();
    void showProgressDialog();

    UpdateEnvironment m_environment;
    Ui::OsmerinRemoteIOFirmwareUpdater *ui;
    HexImage m_hex;
    std::vector<uint8_t> m_readBack;
    int m_nodeId = 1;
    QProgressDialog *m_progress = nullptr;
    std::unique_ptr<CanopenUpdateSession> m_session;
    CANopenCOMM *m_connection = nullptr;
};
