#include "coupler_eth/coupler_firmware_widget.h"
#include "ui_couplerfirmwarewidget.h"

#include "app/firmware_folder_panel.h"

#include <QSettings>

CouplerFirmwareWidget::CouplerFirmwareWidget(QWidget *parent)
    : QWidget(parent), ui(new Ui::CouplerFirmwareWidget)
{
    ui->setupUi(this);
    loadFirmwareFolder();
    loadSettings();
}

CouplerFirmwareWidget::~CouplerFirmwareWidget()
{
    delete ui;
}

void CouplerFirmwareWidget::loadFirmwareFolder()
{
    fillFirmwareFolderPanel(ui->comboBox_firmware_file, ui->textEdit_explain, FirmwareFolder::coupler());
}

void CouplerFirmwareWidget::loadSettings()
{
    QSettings settings;
    selectStoredFirmware(ui->comboBox_firmware_file,
                         settings.value(FirmwareFolder::coupler().settingsKey).toString());
}
