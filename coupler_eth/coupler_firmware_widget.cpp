#include "coupler_eth/coupler_firmware_widget.h"
#include "ui_couplerfirmwarewidget.h"

#include "page_support/firmware_folder_panel.h"
#include "page_support/hex_load_box.h"
#include "page_support/ip_address_fields.h"
#include "page_support/dialog_progress.h"
#include "page_support/page_history.h"
#include "page_support/update_progress_dialog.h"
#include "page_support/show_message.h"
#include "coupler_eth/coupler_update_outcome.h"
#include "coupler_eth/coupler_update_session.h"
#include "coupler_eth/coupler_listen_socket.h"
#include "firmware/hardware_version.h"
#include "platform/datagram_socket.h"

#include <QDebug>
#include <QEvent>
#include <QIntValidator>
#include <QProgressDialog>
#include <QSettings>
#include <QUdpSocket>

#include <cstdlib>
#include <functional>
#include <iostream>

namespace {

const char *const kIpKey = "Coupler/Settings/ip";
const char *const kPortKey = "Coupler/Settings/port";

// Mouse releases seen on the listen-port field of any coupler page since the program started.
int portFieldReleases = 0;

// The page's side of a run: the wait before it in a local event loop, so the GUI stays alive;
// the window-modal dialog made when the writing begins; the fixed waits of the run itself block,
// as the dialog's value updates are the only events processed while it runs.
class PageRun : public DialogProgress
{
public:
    PageRun(std::function<QProgressDialog &(int maximum)> createDialog, const FixedWaits &waits)
        : DialogProgress([](UpdatePhase phase, int) { return couplerPhaseLabel(phase); }),
          m_createDialog(std::move(createDialog)), m_waits(waits)
    {
    }
    void phase(UpdatePhase phase, int module) override
    {
        if (phase == UpdatePhase::Writing && !hasDialog()) {
            mark(phase, module);
            attach(m_createDialog(maximum()));
        } else {
            DialogProgress::phase(phase, module);
        }
    }
    UpdateTools tools()
    {
        return {*this, *this, [this](int milliseconds) {
                    if (hasDialog())
                        m_waits.block(milliseconds);
                    else
                        m_waits.inLocalEventLoop(milliseconds);
                }, debugLog()};
    }

private:
    std::function<QProgressDialog &(int maximum)> m_createDialog;
    FixedWaits m_waits;
};

// Clears the in-progress mark however the click ends.
class UpdateInProgress
{
public:
    explicit UpdateInProgress(bool &flag) : m_flag(flag) { m_flag = true; }
    ~UpdateInProgress() { m_flag = false; }

private:
    bool &m_flag;
};

}

CouplerFirmwareWidget::CouplerFirmwareWidget(QWidget *parent, const UpdateEnvironment &environment)
    : QWidget(parent),
      m_environment(environment),
      ui(new Ui::CouplerFirmwareWidget),
      m_hex(HexPageProfile::coupler()),
      m_readBackImage(static_cast<size_t>(HexPageProfile::coupler().capacity), 0xFF)
{
    ui->setupUi(this);
    ui->lineEdit_port->installEventFilter(this);
    ipFields().setValidators(this);
    ui->lineEdit_port->setValidator(new QIntValidator(1, 65535, this));
    loadFirmwareFolder();
    loadSettings();
}

CouplerFirmwareWidget::~CouplerFirmwareWidget()
{
    delete ui;
}

bool CouplerFirmwareWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->lineEdit_port && event->type() == QEvent::MouseButtonRelease
        && ++portFieldReleases > kPortUnlockReleases)
        ui->lineEdit_port->setEnabled(true);
    return QWidget::eventFilter(watched, event);
}

IpAddressFields CouplerFirmwareWidget::ipFields() const
{
    return IpAddressFields({ui->lineEdit_ip1, ui->lineEdit_ip2, ui->lineEdit_ip3, ui->lineEdit_ip4});
}

void CouplerFirmwareWidget::loadFirmwareFolder()
{
    fillFirmwareFolderPanel(ui->comboBox_firmware_file, ui->textEdit_explain, FirmwareFolder::coupler(),
                            m_environment.firmwareRoot);
}

void CouplerFirmwareWidget::loadSettings()
{
    QSettings settings;
    ipFields().restore(settings.value(kIpKey).toString());
    const QVariant storedPort = settings.value(kPortKey);
    const uint16_t port = storedPort.isValid() ? static_cast<uint16_t>(storedPort.toString().toInt())
                                               : kDefaultListenPort;
    ui->lineEdit_port->setText(QString::number(port));
    selectStoredFirmware(ui->comboBox_firmware_file,
                         settings.value(FirmwareFolder::coupler().settingsKey).toString());
}

void CouplerFirmwareWidget::saveSettings()
{
    QSettings settings;
    settings.setValue(FirmwareFolder::coupler().settingsKey, ui->comboBox_firmware_file->currentText());
    settings.setValue(kIpKey, ipFields().text());
    settings.setValue(kPortKey, QString::number(typedListenPort()));
}

void CouplerFirmwareWidget::on_button_update_clicked()
{
    if (m_updateInProgress)
        return;
    const UpdateInProgress inProgress(m_updateInProgress);
    if (!bindListenPort())
        return;
    m_hex.fileName = ui->comboBox_firmware_file->currentData().toString().toStdString();
    saveSettings();
    if (!loadHexFile(this, "CouplerFirmwareWidget", m_hex, HexPageProfile::coupler()))
        return;
    readPendingDatagrams();
}

// A fresh socket on the listen port for every update; the port is only reserved by it, the
// exchanges use its descriptor.
bool CouplerFirmwareWidget::bindListenPort()
{
    m_socket.reset();
    const uint16_t port = typedListenPort();
    qDebug().noquote() << QStringLiteral("port = %1").arg(port);
    UpdateOutcome refusal;
    m_socket = bindCouplerListenPort(port, refusal);
    if (!m_socket) {
        showOutcome(this, refusal);
        return false;
    }
    if (!DatagramSocket::startSocketLibrary()) {
        std::cerr << "WSAStartup() error" << std::endl;
        std::exit(1);
    }
    // The requests name the port the replies must come to: with an empty field (0) that is the
    // one the system chose.
    m_listenPort = m_socket->localPort();
    return true;
}

uint16_t CouplerFirmwareWidget::typedListenPort() const
{
    return ui->lineEdit_port->text().toUShort();
}

void CouplerFirmwareWidget::readPendingDatagrams()
{
    if (!m_socket || m_socket->state() != QAbstractSocket::BoundState)
        return;
    m_socket->blockSignals(true);
    runUpdate();
    ui->button_update->setEnabled(true);
    if (m_progressDialog)
        m_progressDialog->close();
}

// Checks, waits and runs; the button stays disabled from the start of the run to its box.
void CouplerFirmwareWidget::runUpdate()
{
    PageRun run([this](int maximum) -> QProgressDialog & {
        ui->button_update->setEnabled(false);
        return *createProgressDialog(maximum);
    }, m_environment.waits);
    const QString ip = ipFields().text();
    HistoryEntry start = pageHistoryStart(QStringLiteral("coupler"), QStringLiteral("coupler %1").arg(ip),
                                          QString::fromStdString(m_hex.fileName));
    start.ip = ip;
    start.listenPort = m_listenPort;
    PageHistory history(m_environment, start, &m_hex);
    CouplerUpdateSession session(*m_socket, ip.toStdString(), run.tools(), m_environment);
    const UpdateOutcome outcome = session.update(m_hex, m_readBackImage);
    if (m_progressDialog && outcome.kind == UpdateOutcome::Kind::Verified)
        m_progressDialog->close();
    showOutcome(this, history.finish(outcome, run.timedPhases()));
}

QProgressDialog *CouplerFirmwareWidget::createProgressDialog(int maximum)
{
    if (m_progressDialog)
        m_progressDialog->deleteLater();
    m_progressDialog = UpdateProgressDialog::create(this, couplerPhaseLabel(UpdatePhase::Writing), maximum,
                                                    UpdateProgressDialog::TitleBar::Standard);
    m_progressDialog->setValue(1);
    UpdateProgressDialog::show(*m_progressDialog);
    return m_progressDialog;
}
