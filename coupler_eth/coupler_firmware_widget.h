#pragma once

#include "core/update_environment.h"
#include "coupler_eth/coupler_boot_exceptions.h"
#include "firmware/hex_image.h"

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <vector>

class IpAddressFields;
class QProgressDialog;
class QUdpSocket;

namespace Ui {
class CouplerFirmwareWidget;
}

// The tab that updates an Ethernet bus coupler: the firmware is checked against the coupler's
// Modbus registers, then written, sealed, read back, compared and started over the coupler's
// UDP boot loader.
class CouplerFirmwareWidget : public QWidget
{
    Q_OBJECT

public:
    using FormatErrorException = ::FormatErrorException;
    using SendFailedException = ::SendFailedException;

    static constexpr uint16_t kDefaultListenPort = 23456;
    // The listen-port field unlocks after more mouse releases on it than this, for the life of
    // the program, on every coupler page.
    static constexpr int kPortUnlockReleases = 5;

    // The update runs with `environment`: the product's waits, Modbus port and folders unless
    // given others.
    explicit CouplerFirmwareWidget(QWidget *parent = nullptr,
                                   const UpdateEnvironment &environment = UpdateEnvironment());
    ~CouplerFirmwareWidget() override;

    bool eventFilter(QObject *watched, QEvent *event) override;

public slots:
    void on_button_update_clicked();
    void readPendingDatagrams();

private:
    IpAddressFields ipFields() const;
    void loadFirmwareFolder();
    void loadSettings();
    void saveSettings();
    bool bindListenPort();
    uint16_t typedListenPort() const;   // 0 when the field holds no number
    void runUpdate();
    QProgressDialog *createProgressDialog(int maximum);

    UpdateEnvironment m_environment;
    Ui::CouplerFirmwareWidget *ui;
    HexImage m_hex;
    std::vector<uint8_t> m_readBackImage;
    uint16_t m_listenPort = 0;
    QPointer<QProgressDialog> m_progressDialog;
    std::unique_ptr<QUdpSocket> m_socket;
    // A second click while one update prepares or runs would start a second update inside it.
    bool m_updateInProgress = false;
};
