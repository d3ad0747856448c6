#pragma once

#include "core/update_environment.h"
#include "firmware/hex_image.h"

#include <QPointer>
#include <QWidget>

#include <string>

class IpAddressFields;
class ModuleUpdateSession;
class QProgressDialog;
struct UpdateResult;

namespace Ui {
class ModuleFirmwareWidget;
}

// The tab that writes one firmware file to a range of I/O modules behind an Ethernet coupler. It
// owns the form, the stored settings, the progress dialog and the one box that ends each run;
// ModuleUpdateEngine does the work on the modules.
class ModuleFirmwareWidget : public QWidget
{
    Q_OBJECT

public:
    // The update runs with `environment`: the product's waits, Modbus port and folders unless
    // given others.
    explicit ModuleFirmwareWidget(QWidget *parent = nullptr,
                                  const UpdateEnvironment &environment = UpdateEnvironment());
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

    void updateModules(ModuleUpdateSession &session);
    QProgressDialog &createProgressDialog(int firstModule);

    UpdateEnvironment m_environment;
    Ui::ModuleFirmwareWidget *ui;
    HexImage m_hex;
    QPointer<QProgressDialog> m_progressDialog;
};
