#include "coupler_can/osmerin_remote_io_firmware_updater.h"
#include "ui_osmerinremoteiofirmwareupdater.h"

#include "app/application_identity.h"
#include "app/firmware_folder_panel.h"

#include <QSettings>

OsmerinRemoteIOFirmwareUpdater::OsmerinRemoteIOFirmwareUpdater(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::OsmerinRemoteIOFirmwareUpdater)
{
    ApplicationIdentity::apply();
    ui->setupUi(this);
    loadFirmwareFolder();
    loadSettings();
}

OsmerinRemoteIOFirmwareUpdater::~OsmerinRemoteIOFirmwareUpdater()
{
    delete ui;
}

void OsmerinRemoteIOFirmwareUpdater::loadFirmwareFolder()
{
    fillFirmwareFolderPanel(ui->comboBox_firmware_file, ui->textEdit_explain, FirmwareFolder::canopen());
}

void OsmerinRemoteIOFirmwareUpdater::loadSettings()
{
    QSettings settings;
    selectStoredFirmware(ui->comboBox_firmware_file,
                         settings.value(FirmwareFolder::canopen().settingsKey).toString());
}
