#include "module/module_firmware_widget.h"
#include "ui_modulefirmwarewidget.h"

#include "app/firmware_folder_panel.h"
#include "app/ip_address_fields.h"
#include "app/progress_dialog_size.h"
#include "app/show_message.h"
#include "firmware/hardware_version.h"
#include "module/modbus_port.h"
#include "module/modbus_tcp_link.h"
#include "module/module_boot_loader.h"
#include "module/module_transport.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QIntValidator>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSettings>

#include <algorithm>
#include <functional>

namespace {

const char *const kIpKey = "Module/Settings/ip";
const char *const kFirstKey = "Module/Settings/module_number_start";
const char *const kLastKey = "Module/Settings/module_number_end";
const char *const kEndEnableKey = "Module/Settings/end_enable";
constexpr int kLowestModule = 1;
constexpr int kHighestModule = 16;

// Progress and Abort of one run, on the run's window-modal dialog; setting the value is where
// the dialog processes events and notices Abort.
class DialogProgress : public BootProgress
{
public:
    explicit DialogProgress(QProgressDialog &dialog) : m_dialog(dialog) {}
    void setProgressValue(int value) override { m_dialog.setValue(value); }
    bool wasCanceled() override { return m_dialog.wasCanceled(); }

private:
    QProgressDialog &m_dialog;
};

// The modules whose information register does not fit the file, and the registers that could
// not be read at all (those count as 0).
struct ModuleRegisterCheck {
    QStringList mismatched;
    QStringList unread;
};

ModuleRegisterCheck checkModuleRegisters(ModuleTransport &transport, int first, int last,
                                         int (*registerOf)(int), const std::function<bool(uint16_t)> &fits)
{
    ModuleRegisterCheck check;
    for (int module = first; module <= last; ++module) {
        std::string failure;
        const int address = registerOf(module);
        if (fits(transport.readModuleRegister(address, &failure)))
            continue;
        check.mismatched << QString::number(module);
        if (!failure.empty())
            check.unread << QStringLiteral("Register %1 of module %2 could not be read: %3.")
                                .arg(address)
                                .arg(module)
                                .arg(QString::fromStdString(failure));
    }
    return check;
}

int storedModuleNumber(const QVariant &stored, int fallback, int lowest)
{
    bool converts = false;
    const int value = stored.toInt(&converts);
    if (!stored.isValid() || !converts || value < lowest || value > kHighestModule)
        return fallback;
    return value;
}

}

ModuleFirmwareWidget::ModuleFirmwareWidget(QWidget *parent)
    : QWidget(parent),
      ui(new Ui::ModuleFirmwareWidget),
      m_hex(HexPageProfile::module()),
      m_readBackBuffer(static_cast<size_t>(HexPageProfile::module().capacity), 0xFF)
{
    ui->setupUi(this);
    loadFirmwareFolder();
    ipFields().setValidators(this);
    ui->lineEdit_port->setValidator(new QIntValidator(1, 65535, this));
    ui->spinbox_module_number_start->setMaximum(kHighestModule);
    ui->spinbox_module_number_end->setMaximum(kHighestModule);
    loadSettings();
}

ModuleFirmwareWidget::~ModuleFirmwareWidget()
{
    delete ui;
}

IpAddressFields ModuleFirmwareWidget::ipFields() const
{
    return IpAddressFields({ui->lineEdit_ip1, ui->lineEdit_ip2, ui->lineEdit_ip3, ui->lineEdit_ip4});
}

std::string ModuleFirmwareWidget::ipAddress() const
{
    return ipFields().text().toStdString();
}

void ModuleFirmwareWidget::loadFirmwareFolder()
{
    fillFirmwareFolderPanel(ui->comboBox_firmware_file, ui->textEdit_explain, FirmwareFolder::module());
}

void ModuleFirmwareWidget::loadSettings()
{
    QSettings settings;
    const QString ip = settings.value(kIpKey).toString();
    const QVariant storedFirst = settings.value(kFirstKey);
    const QVariant storedLast = settings.value(kLastKey);
    const QString fileName = settings.value(FirmwareFolder::module().settingsKey).toString();
    const bool endEnabled = settings.value(kEndEnableKey, false).toBool();

    const int first = storedModuleNumber(storedFirst, kLowestModule, kLowestModule);
    const int last = storedModuleNumber(storedLast, first, first);

    ui->checkBox_end->setChecked(endEnabled);
    ui->spinbox_module_number_end->setEnabled(endEnabled);
    if (!endEnabled)
        ui->spinbox_module_number_end->setValue(ui->spinbox_module_number_start->value());

    ipFields().restore(ip);
    ui->lineEdit_port->setText(QString::number(ModbusPort::value()));

    ui->spinbox_module_number_start->setValue(first);
    ui->spinbox_module_number_end->setValue(last);

    selectStoredFirmware(ui->comboBox_firmware_file, fileName);
}

void ModuleFirmwareWidget::saveSettings(const std::string &ip, int /*port: never stored*/, int first,
                                        int last)
{
    QSettings settings;
    settings.setValue(kIpKey, QString::fromStdString(ip));
    settings.setValue(kFirstKey, QString::number(first));
    settings.setValue(kLastKey, QString::number(last));
    settings.setValue(FirmwareFolder::module().settingsKey, ui->comboBox_firmware_file->currentText());
    settings.setValue(kEndEnableKey, ui->checkBox_end->isChecked() ? "true" : "false");
}

void ModuleFirmwareWidget::on_button_modbus_connect_clicked() {}

void ModuleFirmwareWidget::on_spinbox_module_number_start_valueChanged(int arg1)
{
    if (!ui->checkBox_end->isChecked() || arg1 > ui->spinbox_module_number_end->value()) {
        const QSignalBlocker blocker(ui->spinbox_module_number_end);
        ui->spinbox_module_number_end->setValue(arg1);
    }
}

void ModuleFirmwareWidget::on_spinbox_module_number_end_valueChanged(int arg1)
{
    if (ui->checkBox_end->isChecked() && arg1 < ui->spinbox_module_number_start->value()) {
        const QSignalBlocker blocker(ui->spinbox_module_number_start);
        ui->spinbox_module_number_start->setValue(arg1);
    }
}

void ModuleFirmwareWidget::on_checkBox_end_toggled(bool checked)
{
    ui->spinbox_module_number_end->setEnabled(checked);
    if (!checked)
        ui->spinbox_module_number_end->setValue(ui->spinbox_module_number_start->value());
}

void ModuleFirmwareWidget::on_ADMode_toggled(bool checked)
{
    if (checked)
        QMessageBox::warning(this, tr("Advance mode"),
                             tr("Advance mode contains actions that may harm your device(s). "
                                "Contact our distributors for more details and instructions."),
                             QMessageBox::Ok);
}

void ModuleFirmwareWidget::on_button_update_clicked()
{
    const std::string ip = ipAddress();
    const int port = ui->lineEdit_port->text().toInt();
    std::string failure;
    std::unique_ptr<ModbusTcpLink> link = ModbusTcpLink::connect(ip, port, &failure);
    if (!link) {
        showMessageBox(this, QMessageBox::Critical, tr("Connection failed"),
                       tr("Please check field of IP and port is correct"),
                       QStringLiteral("Modbus TCP %1:%2: %3.")
                           .arg(QString::fromStdString(ip))
                           .arg(port)
                           .arg(QString::fromStdString(failure)));
        return;
    }
    ui->button_update->setEnabled(false);
    ModuleTransport transport(*link);
    updateModules(transport);
    link.reset();
    ui->button_update->setEnabled(true);
    if (m_progressDialog) {
        m_progressDialog->close();
        m_progressDialog->deleteLater();
    }
}

void ModuleFirmwareWidget::createProgressDialog(int firstModule)
{
    m_progressDialog = new QProgressDialog(tr("Burning Firmware to module %1...").arg(firstModule),
                                           tr("Abort"), 0, 2 * m_hex.imageLength + 1, this);
    m_progressDialog->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint
                                     | Qt::WindowCloseButtonHint);
    m_progressDialog->setWindowModality(Qt::WindowModal);
    // Shown at once: only a dialog that has been shown processes events (and so notices Abort)
    // each time its value is set.
    m_progressDialog->setMinimumDuration(0);
}

void ModuleFirmwareWidget::updateModules(ModuleTransport &transport)
{
    m_progressDialog = nullptr;
    m_hex.fileName = ui->comboBox_firmware_file->itemData(ui->comboBox_firmware_file->currentIndex(),
                                                          Qt::UserRole)
                         .toString()
                         .toStdString();
    const int first = ui->spinbox_module_number_start->value();
    const int last = ui->spinbox_module_number_end->value();
    if (!loadHexFile(this, "ModuleFirmwareWidget", m_hex, HexPageProfile::module()))
        return;
    if (!ui->ADMode->isChecked()
        && !(checkProductCodes(transport, first, last) && checkHardwareVersions(transport, first, last)))
        return;
    saveSettings(ipAddress(), ui->lineEdit_port->text().toInt(), first, last);

    const int blockCount = (m_hex.imageLength + ModuleBootLoader::kFlashBlockBytes - 1)
                           / ModuleBootLoader::kFlashBlockBytes;
    transport.clearRequestBuffer();
    transport.setResponseTimeout(0, kResponseTimeoutUs);
    createProgressDialog(first);
    QProgressDialog &dialog = *m_progressDialog;
    DialogProgress progress(dialog);
    ModuleBootLoader bootLoader(transport, progress);

    for (int module = first; module <= last; ++module) {
        dialog.setMaximum(2 * m_hex.imageLength + 1);
        bootLoader.resetProgressCounter();
        dialog.setValue(1);
        ProgressDialogSize::setLabelText(dialog, tr("Burning Firmware to module %1...").arg(module));
        ProgressDialogSize::show(dialog);

        transport.selectModule(module);
        const std::optional<ModuleVariant> variant = bootLoader.synchronize();
        if (!variant) {
            showMessage(this, QMessageBox::Critical,
                        tr("Connection failed. Synchronizing baudrate of module failed."));
            return;
        }
        bootLoader.erase(*variant);

        QElapsedTimer timer;
        timer.start();
        for (int block = 1; block < blockCount; ++block) {
            bootLoader.writeFlashBlock(m_hex.image, block * ModuleBootLoader::kFlashBlockBytes, *variant);
            if (dialog.wasCanceled())
                break;
        }
        bootLoader.writeFlashBlock(m_hex.image, 0, *variant);
        dialog.setValue(m_hex.imageLength);
        qDebug().noquote() << QString("Cost time %1 second").arg(timer.elapsed() / 1000);

        std::fill(m_readBackBuffer.begin(), m_readBackBuffer.end(), 0xFF);
        timer.restart();
        ProgressDialogSize::setLabelText(dialog, tr("Reading flash data on module %1 ...").arg(module));
        const bool readComplete = bootLoader.readFlash(m_hex.imageLength, m_readBackBuffer);
        qDebug().noquote() << QString("Cost time %1 second").arg(timer.elapsed() / 1000);
        if (dialog.wasCanceled())
            break;

        ProgressDialogSize::setLabelText(dialog, tr("Comparing data of module %1 ...").arg(module));
        if (!readComplete || !compareImage()) {
            showMessage(this, QMessageBox::Critical,
                        tr("Burning Firmware to module %1 Failed. Comparison is NOT equal. Content "
                           "is different between local file and flash.")
                            .arg(module));
            return;
        }
        bootLoader.startModuleFirmware();
    }

    if (dialog.wasCanceled()) {
        showMessage(this, QMessageBox::Information, tr("User cancel the operation."));
        return;
    }
    dialog.close();
    if (first == last)
        showMessage(this, QMessageBox::Information,
                    tr("Burning firmware successful. Firmware of module %1 has been updated.").arg(first));
    else
        showMessage(this, QMessageBox::Information,
                    tr("Burning firmware successful. Firmware of module %1-%2 has been updated.")
                        .arg(first)
                        .arg(last));
}

bool ModuleFirmwareWidget::checkProductCodes(ModuleTransport &transport, int first, int last)
{
    const ModuleRegisterCheck check = checkModuleRegisters(
        transport, first, last, &ModuleTransport::productCodeRegister,
        [this](uint16_t code) { return code == m_hex.productCode; });
    if (check.mismatched.isEmpty())
        return true;
    showMessageBox(this, QMessageBox::Critical, tr("Firmware matching error"),
                   tr("Firmware does not match with the module %1").arg(check.mismatched.join(", ")),
                   check.unread.join("\n"));
    return false;
}

bool ModuleFirmwareWidget::checkHardwareVersions(ModuleTransport &transport, int first, int last)
{
    const ModuleRegisterCheck check = checkModuleRegisters(
        transport, first, last, &ModuleTransport::hardwareVersionRegister,
        [this](uint16_t version) { return firmwareFitsHardware(m_hex.hardwareVersion, version); });
    if (check.mismatched.isEmpty())
        return true;
    showMessageBox(this, QMessageBox::Critical, tr("Firmware matching error"),
                   tr("Firmware does not match with with the model %1").arg(check.mismatched.join(", ")),
                   check.unread.join("\n"));
    return false;
}

bool ModuleFirmwareWidget::compareImage() const
{
    const auto length = static_cast<size_t>(std::max(m_hex.imageLength, 0));
    return std::equal(m_hex.image.begin(), m_hex.image.begin() + length, m_readBackBuffer.begin());
}
