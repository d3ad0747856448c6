#pragma once

#include "firmware/hex_image.h"

#include <QPointer>
#include <QWidget>

#include <string>
#include <vector>

class IpAddressFields;
class QProgressDialog;
class ModuleTransport;

namespace Ui {
class ModuleFirmwareWidget;
}

// The tab that writes one firmware file to a range of I/O modules behind an Ethernet coupler:
// each module is selected through the coupler, erased, written, read back, compared and started.
class ModuleFirmwareWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kResponseTimeoutUs = 500000;

    explicit ModuleFirmwareWidget(QWidget *parent = nullptr);
    ~ModuleFirmwareWidget() override;

    std::string ipAddress() const;

private slots:
    void on_button_modbus_connect_clicked();
    void on_button_update_clicked();
    void on_spinbox_module_number_start_valueChanged(int arg1);
    void on_spinbox_module_number_end_valueChanged(int arg1);
    void on_checkBox_end_toggled(bool checked);
    void on_ADMode_toggled(bool checked);

private:
    IpAddressFields ipFields() const;
    void loadFirmwareFolder();
    void loadSettings();
    void saveSettings(const std::string &ip, int port, int first, int last);

    void updateModules(ModuleTransport &transport);
    bool checkProductCodes(ModuleTransport &transport, int first, int last);
    bool checkHardwareVersions(ModuleTransport &transport, int first, int last);
    bool compareImage() const;
    void createProgressDialog(int firstModule);

    Ui::ModuleFirmwareWidget *ui;
    HexImage m_hex;
    std::vector<uint8_t> m_readBackBuffer;
    QPointer<QProgressDialog> m_progressDialog;
};
