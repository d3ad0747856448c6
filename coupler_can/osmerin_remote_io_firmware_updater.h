#pragma once

#include "firmware/hex_image.h"

#include <QMainWindow>

#include <cstdint>
#include <memory>
#include <vector>

class CANopenCOMM;
class QProgressDialog;
class USBPassThroughCANopenCOMM;

namespace Ui {
class OsmerinRemoteIOFirmwareUpdater;
}

// The "COP" page: updates the CANopen coupler over its USB virtual COM port.
class OsmerinRemoteIOFirmwareUpdater : public QMainWindow
{
    Q_OBJECT

public:
    explicit OsmerinRemoteIOFirmwareUpdater(QWidget *parent = nullptr);
    ~OsmerinRemoteIOFirmwareUpdater() override;

    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void on_button_update_clicked();

private:
    void loadFirmwareFolder();
    void loadSettings();
    void saveSettings();
    void refreshComPorts();
    std::unique_ptr<USBPassThroughCANopenCOMM> openSerial();

    void burnFirmware();
    void showProgressDialog();
    void writeFirmware();
    void readFlash();
    bool compareImage() const;
    int pageCount() const;

    bool checkBootMode();
    bool checkUserMode();
    bool enterBootMode();
    bool enterUserMode();
    void reportVerified();
    uint32_t readModeSignature();
    void writeCommand(uint8_t command, uint32_t value);

    Ui::OsmerinRemoteIOFirmwareUpdater *ui;
    HexImage m_hex;
    std::vector<uint8_t> m_readBack;
    int m_nodeId = 1;
    int progressCounter = 0;
    QProgressDialog *m_progress = nullptr;
    std::unique_ptr<USBPassThroughCANopenCOMM> m_port;
    CANopenCOMM *m_connection = nullptr;
};
