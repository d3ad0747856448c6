#include "module/module_firmware_widget.h"
#include "ui_modulefirmwarewidget.h"

#include "page_support/firmware_folder_panel.h"
#include "page_support/hex_load_box.h"
#include "page_support/ip_address_fields.h"
#include "page_support/dialog_progress.h"
#include "page_support/page_history.h"
#include "page_support/update_progress_dialog.h"
#include "page_support/show_message.h"
#include "module/module_update_engine.h"
#include "module/module_update_outcome.h"
#include "module/module_update_session.h"

#include <QDebug>
#include <QIntValidator>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSettings>

#include <functional>
#include <utility>

namespace {

const char *const kIpKey = "Module/Settings/ip";
const char *const kFirstKey = "Module/Settings/module_number_start";
const char *const kLastKey = "Module/Settings/module_number_end";
const char *const kEndEnableKey = "Module/Settings/end_enable";
constexpr int kLowestModule = ModuleRange::kLowestModule;
constexpr int kHighestModule = ModuleRange::kHighestModule;

// The run's window-modal dialog, which exists from the moment the modules have passed their
// checks.
class PageRun : public DialogProgress
{
public:
    explicit PageRun(std::function<QProgressDialog &()> checksPassed)
        : DialogProgress(&modulePhaseLabel), m_checksPassed(std::move(checksPassed))
    {
    }
    void checksPassed() override { attach(m_checksPassed()); }

private:
    std::function<QProgressDialog &()> m_checksPassed;
};

int storedModuleNumber(const QVariant &stored, int fallback, int lowest)
{
    bool converts = false;
    const int value = stored.toInt(&converts);
    if (!stored.isValid() || !converts || value < lowest || value > kHighestModule)
        return fallback;
    return value;
}

}

ModuleFirmwareWidget::ModuleFirmwareWidget(QWidget *parent, const UpdateEnvironment &environment)
    : QWidget(parent),
      m_environment(environment),
      ui(new Ui::ModuleFirmwareWidget),
      m_hex(HexPageProfile::module())
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
    fillFirmwareFolderPanel(ui->comboBox_firmware_file, ui->textEdit_explain, FirmwareFolder::module(),
                            m_environment.firmwareRoot);
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
    ui->lineEdit_port->setText(QString::number(m_environment.modbusPort));

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
    {
        ModuleUpdateSession session(ipAddress(), ui->lineEdit_port->text().toInt());
        if (const std::optional<UpdateResult> failure = session.connectionFailure()) {
            showOutcome(this, moduleUpdateOutcome(*failure));
            return;
        }
        ui->button_update->setEnabled(false);
        updateModules(session);
    }   // the connection is closed before the button comes back
    ui->button_update->setEnabled(true);
    if (m_progressDialog) {
        m_progressDialog->close();
        m_progressDialog->deleteLater();
    }
}

QProgressDialog &ModuleFirmwareWidget::createProgressDialog(int firstModule)
{
    m_progressDialog = UpdateProgressDialog::create(this, tr("Burning Firmware to module %1...").arg(firstModule),
                                                    2 * m_hex.imageLength + 1,
                                                    UpdateProgressDialog::TitleBar::CloseButtonOnly);
    return *m_progressDialog;
}

void ModuleFirmwareWidget::updateModules(ModuleUpdateSession &session)
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
    // The settings are stored once the modules have passed their checks, before any is touched.
    PageRun run([&]() -> QProgressDialog & {
        saveSettings(ipAddress(), ui->lineEdit_port->text().toInt(), first, last);
        return createProgressDialog(first);
    });
    const QString ip = QString::fromStdString(ipAddress());
    HistoryEntry start = pageHistoryStart(QStringLiteral("module"), QString(), QString::fromStdString(m_hex.fileName));
    start.ip = ip;
    start.module = first;
    PageHistory history(m_environment, start, &m_hex, last - first + 1);
    const UpdateResult result = session.update(first, last, ui->ADMode->isChecked(), m_hex,
                                               {run, run, m_environment.waits.blocking(), debugLog()});
    if (result.kind == UpdateResult::Kind::Verified)
        m_progressDialog->close();
    const UpdateOutcome outcome = moduleUpdateOutcome(result);
    // A run that ended before any module was asked leaves them all as the whole range is.
    const auto afterOf = [&](int module) {
        const size_t index = size_t(module - first);
        return index < result.rangeAfter.size() ? result.rangeAfter[index] : result.deviceAfter;
    };
    const QList<int> concerned(result.modules.begin(), result.modules.end());
    showOutcome(this, history.finish(outcome, run.timedPhases(), [&](int module) {
                    return moduleOutcomeInRange(outcome, concerned, afterOf(module), module);
                }));
}
