#include "coupler_ecat/tarnlow_ecat.h"
#include "ui_tarnlowecat.h"

#include "app/application_identity.h"
#include "app/firmware_folder_panel.h"

#include <QSettings>

TarnlowECAT::TarnlowECAT(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::TarnlowECAT)
{
    ApplicationIdentity::apply();
    ui->setupUi(this);
    loadFirmwareFolder();
    loadSettings();
}

TarnlowECAT::~TarnlowECAT()
{
    delete ui;
}

void TarnlowECAT::loadFirmwareFolder()
{
    fillFirmwareFolderPanel(ui->comboBox_firmware_file, ui->textEdit_explain, FirmwareFolder::ethercat());
}

void TarnlowECAT::loadSettings()
{
    QSettings settings;
    selectStoredFirmware(ui->comboBox_firmware_file,
                         settings.value(FirmwareFolder::ethercat().settingsKey).toString());
}
