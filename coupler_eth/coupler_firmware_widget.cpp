#include "coupler_eth/coupler_firmware_widget.h"
#include "ui_couplerfirmwarewidget.h"

#include "app/firmware_folder_panel.h"
#include "app/hex_load_box.h"
#include "app/fixed_wait.h"
#include "app/ip_address_fields.h"
#include "app/progress_dialog_size.h"
#include "app/show_message.h"
#include "coupler_eth/coupler_modbus_connection.h"
#include "coupler_eth/coupler_udp_link.h"
#include "coupler_eth/coupler_update_engine.h"
#include "firmware/hardware_version.h"
#include "module/modbus_port.h"
#include "platform/datagram_socket.h"

#include <QDebug>
#include <QEvent>
#include <QIntValidator>
#include <QProgressDialog>
#include <QSettings>
#include <QUdpSocket>

#include <cstdlib>
#include <iostream>

namespace {

const char *const kIpKey = "Coupler/Settings/ip";
const char *const kPortKey = "Coupler/Settings/port";
const char *const kBindAddress = "0.0.0.0";

// Mouse releases seen on the listen-port field of any coupler page since the program started.
int portFieldReleases = 0;

// The run's window-modal dialog; setting its value is where it processes events.
class DialogObserver : public CouplerUpdateObserver
{
public:
    explicit DialogObserver(QProgressDialog &dialog) : m_dialog(dialog) {}
    void setLabelText(const QString &text) override { ProgressDialogSize::setLabelText(m_dialog, text); }
    void setValue(int value) override { m_dialog.setValue(value); }
    bool wasCanceled() override { return m_dialog.wasCanceled(); }

private:
    QProgressDialog &m_dialog;
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

QString hex16(uint32_t value)
{
    return QString::asprintf("0x%04X", value);
}

// What the register said, for the box's informative text.
QString registerDetail(int address, uint16_t value, const std::string &readFailure, const QString &wanted)
{
    if (!readFailure.empty())
        return QStringLiteral("Register %1 could not be read: %2.")
            .arg(address)
            .arg(QString::fromStdString(readFailure));
    return QStringLiteral("Register %1 reads %2; %3.").arg(address).arg(hex16(value), wanted);
}

}

CouplerFirmwareWidget::CouplerFirmwareWidget(QWidget *parent)
    : QWidget(parent),
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
    fillFirmwareFolderPanel(ui->comboBox_firmware_file, ui->textEdit_explain, FirmwareFolder::coupler());
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
    if (!checkCompatibility())
        return;
    FixedWait::inLocalEventLoop(kWaitBeforeRunMs);
    readPendingDatagrams();
}

// A fresh socket on the listen port for every update; the port is only reserved by it, the
// exchanges use its descriptor.
bool CouplerFirmwareWidget::bindListenPort()
{
    if (m_socket)
        m_socket->close();
    m_socket = new QUdpSocket(this);
    const uint16_t port = typedListenPort();
    qDebug().noquote() << QStringLiteral("port = %1").arg(port);
    if (port == CouplerBoot::kDevicePort) {
        showMessageBox(this, QMessageBox::Critical, tr("Change listen port"),
                       tr("Port %1 is using for UDP broadcast").arg(CouplerBoot::kDevicePort));
        return false;
    }
    // Not shared: a second program on the same port would take some of the coupler's replies.
    if (!m_socket->bind(QHostAddress(QString::fromLatin1(kBindAddress)), port,
                        QAbstractSocket::DontShareAddress)) {
        showMessageBox(nullptr, QMessageBox::Critical, tr("Port binding failed"),
                       tr("Port %1 is probably occupied is using for UDP broadcast").arg(port),
                       m_socket->errorString());
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

// The coupler's registers against the file header. A coupler that does not answer Modbus (one
// already in its boot loader, for example) is updated without the checks. A register that
// cannot be read counts as 0, which hardware of version 1 reads too; the box then says why.
bool CouplerFirmwareWidget::checkCompatibility()
{
    std::string failure;
    const std::string ip = ipFields().text().toStdString();
    const std::unique_ptr<CouplerModbusConnection> modbus = CouplerModbusConnection::connect(ip, failure);
    if (!modbus) {
        qDebug().noquote() << QStringLiteral("Modbus %1:%2 not reached (%3); checks skipped")
                                  .arg(QString::fromStdString(ip))
                                  .arg(ModbusPort::value())
                                  .arg(QString::fromStdString(failure));
        return true;
    }
    return checkFirmwareVersion(*modbus) && checkProductCode(*modbus);
}

bool CouplerFirmwareWidget::checkFirmwareVersion(CouplerModbusConnection &modbus)
{
    std::string failure;
    const int address = CouplerModbusConnection::kHardwareVersionRegister;
    const uint16_t version = modbus.readRegister(address, failure);
    if (firmwareFitsHardware(m_hex.hardwareVersion, version))
        return true;
    showMessageBox(this, QMessageBox::Critical, tr("Firmware matching error"),
                   tr("Firmware does not match with the coupler"),
                   registerDetail(address, version, failure,
                                  QStringLiteral("the file is for hardware version %1 (%2)")
                                      .arg(m_hex.hardwareVersion >> 12)
                                      .arg(hex16(static_cast<uint32_t>(m_hex.hardwareVersion)))));
    return false;
}

bool CouplerFirmwareWidget::checkProductCode(CouplerModbusConnection &modbus)
{
    std::string failure;
    const int address = CouplerModbusConnection::kProductCodeRegister;
    const uint16_t code = modbus.readRegister(address, failure);
    if (code == m_hex.productCode)
        return true;
    showMessageBox(this, QMessageBox::Critical, tr("Product Code matching error"),
                   tr("Product Code does not match with the coupler"),
                   registerDetail(address, code, failure,
                                  QStringLiteral("the file is for product code %1").arg(hex16(m_hex.productCode))));
    return false;
}

void CouplerFirmwareWidget::readPendingDatagrams()
{
    if (!m_socket || m_socket->state() != QAbstractSocket::BoundState)
        return;
    const sockaddr_in destination = DatagramSocket::socketAddress(
        DatagramSocket::addressFromText(ipFields().text().toStdString()), CouplerBoot::kDevicePort);
    const int descriptor = static_cast<int>(m_socket->socketDescriptor());
    m_socket->blockSignals(true);
    // Qt turns broadcast on for its UDP sockets; an incomplete address (255.255.255.255) must
    // fail to send rather than reach every coupler on the network.
    DatagramSocket::disableBroadcast(descriptor);
    ui->button_update->setEnabled(false);
    runUpdate(descriptor, destination);
    ui->button_update->setEnabled(true);
    if (m_progressDialog)
        m_progressDialog->close();
}

void CouplerFirmwareWidget::runUpdate(int descriptor, const sockaddr_in &destination)
{
    createProgressDialog();
    DialogObserver observer(*m_progressDialog);
    CouplerUdpLink link(descriptor, destination, m_listenPort);
    CouplerUpdateEngine engine(link, observer);
    report(engine.run(m_hex.image, m_hex.imageLength, m_readBackImage), destination);
}

void CouplerFirmwareWidget::createProgressDialog()
{
    if (m_progressDialog)
        m_progressDialog->deleteLater();
    const int padded = CouplerBoot::paddedLength(m_hex.imageLength);
    m_progressDialog = new QProgressDialog(QStringLiteral("Burning Firmware to Device..."),
                                           QStringLiteral("Abort"), 0, 2 * padded + 1, this);
    m_progressDialog->setWindowModality(Qt::WindowModal);
    // Only a dialog that setValue itself has shown processes events (and so notices Abort)
    // each time its value is set; with no minimum duration the first value shows it.
    m_progressDialog->setMinimumDuration(0);
    m_progressDialog->setValue(1);
    ProgressDialogSize::show(*m_progressDialog);
}

void CouplerFirmwareWidget::report(const CouplerRunResult &result, const sockaddr_in &destination)
{
    using Outcome = CouplerRunResult::Outcome;
    const QString detail = QString::fromStdString(result.detail);
    switch (result.outcome) {
    case Outcome::Verified:
        m_progressDialog->close();
        showMessageBox(this, QMessageBox::Information, tr("Burning Firmware Successful"),
                       tr("Firmware of Remote IO has beed updated."));
        break;
    case Outcome::Cancelled:
        break;
    case Outcome::FormatError:
        // The reply bytes stand in the text one character each.
        showMessageBox(this, QMessageBox::Critical, tr("Format error exception"),
                       tr("In function: %1")
                           .arg(QString::fromLatin1(result.text.data(), static_cast<int>(result.text.size()))),
                       detail);
        break;
    case Outcome::SendFailed: {
        QString why = detail;
        if (destination.sin_addr.s_addr == INADDR_NONE)
            why += tr("\n255.255.255.255 is no coupler's address: fill in all four IP fields.");
        showMessageBox(this, QMessageBox::Critical, tr("Sending failed exception"),
                       QString::fromStdString(result.text), why);
        break;
    }
    case Outcome::FlashDiffers:
        showMessageBox(nullptr, QMessageBox::Critical, tr("Burning Firmware Failed"),
                       tr("Flash data is different from file content"), detail);
        break;
    }
}
