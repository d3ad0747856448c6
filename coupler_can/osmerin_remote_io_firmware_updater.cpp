#include "coupler_can/osmerin_remote_io_firmware_updater.h"
#include "ui_osmerinremoteiofirmwareupdater.h"

#include "core/application_identity.h"
#include "page_support/firmware_folder_panel.h"
#include "page_support/hex_load_box.h"
#include "page_support/dialog_progress.h"
#include "page_support/page_history.h"
#include "page_support/update_progress_dialog.h"
#include "page_support/show_message.h"
#include "coupler_can/canopen_update_engine.h"
#include "coupler_can/canopen_update_outcome.h"
#include "coupler_can/enum_serial_com.h"
#include "coupler_can/canopen_update_session.h"

#include <QDebug>
#include <QEvent>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSettings>

using OsmerinCOMLib::EnumSerialCOM;

namespace {

const char *const nodeIdKey = "Settings/nodeid";
const char *const comPortKey = "Settings/com_port";
constexpr int defaultNodeId = 1;
constexpr int firstNodeId = 1;
constexpr int lastNodeId = 127;

}

OsmerinRemoteIOFirmwareUpdater::OsmerinRemoteIOFirmwareUpdater(QWidget *parent,
                                                               const UpdateEnvironment &environment)
    : QMainWindow(parent),
      m_environment(environment),
      ui(new Ui::OsmerinRemoteIOFirmwareUpdater),
      m_hex(HexPageProfile::canopen()),
      m_readBack(HexPageProfile::canopen().capacity, 0xFF)
{
    qRegisterMetaType<EnumSerialCOM::DATA>("OsmerinCOMLib::EnumSerialCOM::DATA");
    ApplicationIdentity::apply();
    ui->setupUi(this);
    refreshComPorts();
    ui->comboBox->installEventFilter(this);
    loadFirmwareFolder();
    loadSettings();
}

OsmerinRemoteIOFirmwareUpdater::~OsmerinRemoteIOFirmwareUpdater()
{
    delete ui;
}

bool OsmerinRemoteIOFirmwareUpdater::eventFilter(QObject *watched, QEvent *event)
{
    // Refresh before the press opens the pop-up, so it shows the ports present now.
    if (watched == ui->comboBox && event->type() == QEvent::MouseButtonPress)
        refreshComPorts();
    return QMainWindow::eventFilter(watched, event);
}

void OsmerinRemoteIOFirmwareUpdater::loadFirmwareFolder()
{
    fillFirmwareFolderPanel(ui->comboBox_firmware_file, ui->textEdit_explain, FirmwareFolder::canopen(),
                            m_environment.firmwareRoot);
}

void OsmerinRemoteIOFirmwareUpdater::refreshComPorts()
{
    const QList<EnumSerialCOM::DATA> ports = OsmerinCOMLib::CEnumerateSerial();
    const int current = ui->comboBox->currentIndex() < 0
        ? 0
        : ui->comboBox->currentData().value<EnumSerialCOM::DATA>().port;
    ui->comboBox->clear();
    for (const EnumSerialCOM::DATA &port : ports) {
        ui->comboBox->addItem(QStringLiteral("COM %1").arg(port.port), QVariant::fromValue(port));
        if (port.port == current)
            ui->comboBox->setCurrentIndex(ui->comboBox->count() - 1);
    }
}

void OsmerinRemoteIOFirmwareUpdater::loadSettings()
{
    QSettings settings;
    const QVariant storedNodeId = settings.value(nodeIdKey);
    int nodeId = defaultNodeId;
    if (storedNodeId.isValid()) {
        bool isNumber = false;
        const int stored = storedNodeId.toString().toInt(&isNumber);
        if (isNumber && stored >= firstNodeId && stored <= lastNodeId)
            nodeId = stored;
    }
    ui->spinBox_nodeid->setValue(nodeId);

    const QVariant storedPort = settings.value(comPortKey);
    bool isNumber = false;
    const int port = storedPort.toString().toInt(&isNumber);
    if (storedPort.isValid() && isNumber) {
        for (int i = 0; i < ui->comboBox->count(); ++i) {
            if (ui->comboBox->itemData(i).value<EnumSerialCOM::DATA>().port == port)
                ui->comboBox->setCurrentIndex(i);
        }
    }

    selectStoredFirmware(ui->comboBox_firmware_file,
                         settings.value(FirmwareFolder::canopen().settingsKey).toString());
}

void OsmerinRemoteIOFirmwareUpdater::saveSettings()
{
    QSettings settings;
    settings.setValue(nodeIdKey, QString::number(m_nodeId));
    settings.setValue(FirmwareFolder::canopen().settingsKey,
                      ui->comboBox_firmware_file->currentText());
}

CANopenCOMM *OsmerinRemoteIOFirmwareUpdater::openSerial()
{
    if (ui->comboBox->currentIndex() < 0)
        return nullptr;
    const int port = ui->comboBox->currentData().value<EnumSerialCOM::DATA>().port;
    QSettings().setValue(comPortKey, QString::number(port));
    m_session = std::make_unique<CanopenUpdateSession>("COM" + std::to_string(port));
    if (m_session->openFailure()) {
        showOutcome(this, *m_session->openFailure());
        m_session.reset();
        return nullptr;
    }
    return &m_session->connection();
}

void OsmerinRemoteIOFirmwareUpdater::on_button_update_clicked()
{
    ui->button_update->setEnabled(false);
    m_connection = openSerial();
    if (m_connection)
        burnFirmware();
    ui->button_update->setEnabled(true);
    if (m_progress)
        m_progress->close();
    m_connection = nullptr;
    m_session.reset();
}

void OsmerinRemoteIOFirmwareUpdater::showProgressDialog()
{
    delete m_progress;
    m_progress = UpdateProgressDialog::create(this, canopenPhaseLabel(UpdatePhase::Writing),
                                              CanopenUpdateEngine::progressMaximum(m_hex.imageLength),
                                              UpdateProgressDialog::TitleBar::CloseButtonOnly);
    m_progress->setValue(1);
    UpdateProgressDialog::show(*m_progress);
}

void OsmerinRemoteIOFirmwareUpdater::burnFirmware()
{
    m_nodeId = ui->spinBox_nodeid->value();
    m_hex.fileName = ui->comboBox_firmware_file->currentData(Qt::UserRole).toString().toStdString();
    saveSettings();
    if (!loadHexFile(this, "OsmerinRemoteIOFirmwareUpdater", m_hex, HexPageProfile::canopen()))
        return;
    const QString port = QStringLiteral("COM%1").arg(ui->comboBox->currentData().value<EnumSerialCOM::DATA>().port);
    HistoryEntry start = pageHistoryStart(QStringLiteral("canopen"),
                                          QStringLiteral("CANopen node %1 on %2").arg(m_nodeId).arg(port),
                                          QString::fromStdString(m_hex.fileName));
    start.serialPort = port;
    start.node = m_nodeId;
    PageHistory history(m_environment, start, &m_hex);
    showProgressDialog();
    DialogProgress progress([](UpdatePhase phase, int) { return canopenPhaseLabel(phase); });
    progress.attach(*m_progress);
    const UpdateResult result = m_session->update(m_nodeId, m_hex.image, m_hex.imageLength, m_readBack,
                                                  {progress, progress, m_environment.waits.blocking(), debugLog()});
    showOutcome(this, history.finish(canopenUpdateOutcome(result), progress.timedPhases()));
}
