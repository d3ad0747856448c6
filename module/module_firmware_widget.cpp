#include "module/module_firmware_widget.h"
#include "ui_modulefirmwarewidget.h"

#include "app/firmware_folder_panel.h"

#include <QSettings>

ModuleFirmwareWidget::ModuleFirmwareWidget(QWidget *parent)
    : QWidget(parent), ui(new Ui::ModuleFirmwareWidget)
{
    ui->setupUi(this);
    loadFirmwareFolder();
    loadSettings();
}

ModuleFirmwareWidget::~ModuleFirmwareWidget()
{
    delete ui;
}

void ModuleFirmwareWidget::loadFirmwareFolder()
{
    fillFirmwareFolderPanel(ui->comboBox_firmware_file, ui->textEdit_explain, FirmwareFolder::module());
}

void ModuleFirmwareWidget::loadSettings()
{
    QSettings settings;
    selectStoredFirmware(ui->comboBox_firmware_file,
                         settings.value(FirmwareFolder::module().settingsKey).toString());
}
