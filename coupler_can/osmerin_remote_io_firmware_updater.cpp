#include "coupler_can/osmerin_remote_io_firmware_updater.h"
#include "ui_osmerinremoteiofirmwareupdater.h"

#include "app/application_identity.h"
#include "app/firmware_folder_panel.h"
#include "app/fixed_wait.h"
#include "app/progress_dialog_size.h"
#include "app/show_message.h"
#include "coupler_can/boot_loader_objects.h"
#include "coupler_can/enum_serial_com.h"
#include "coupler_can/timeout_exception.h"
#include "coupler_can/usb_pass_through_canopen_comm.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QEvent>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSettings>

#include <algorithm>

using namespace BootLoaderObjects;
using OsmerinCOMLib::EnumSerialCOM;

namespace {

const char *const nodeIdKey = "Settings/nodeid";
const char *const comPortKey = "Settings/com_port";
constexpr int defaultNodeId = 1;
constexpr int firstNodeId = 1;
constexpr int lastNodeId = 127;
constexpr Qt::WindowFlags dialogWithCloseButtonOnly = Qt::Dialog | Qt::CustomizeWindowHint
    | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;

uint32_t littleEndianWord(const uint8_t *bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8
        | static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void storeLittleEndianWord(uint8_t *bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

}

OsmerinRemoteIOFirmwareUpdater::OsmerinRemoteIOFirmwareUpdater(QWidget *parent)
    : QMainWindow(parent),
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
    fillFirmwareFolderPanel(ui->comboBox_firmware_file, ui->textEdit_explain, FirmwareFolder::canopen());
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

std::unique_ptr<USBPassThroughCANopenCOMM> OsmerinRemoteIOFirmwareUpdater::openSerial()
{
    if (ui->comboBox->currentIndex() < 0)
        return nullptr;
    const int port = ui->comboBox->currentData().value<EnumSerialCOM::DATA>().port;
    QSettings().setValue(comPortKey, QString::number(port));
    auto connection = std::make_unique<USBPassThroughCANopenCOMM>();
    try {
        connection->openPort(port);
    } catch (const std::exception &failure) {
        const QString message = failure.what()[0] ? QString::fromStdString(failure.what())
                                                  : QStringLiteral("Unknown exception");
        const auto *openError = dynamic_cast<const SerialOpenError *>(&failure);
        showMessageBox(this, QMessageBox::Critical, tr("Open Serial COM%1 failed").arg(port), message,
                       openError ? QString::fromStdString(openError->detail()) : QString());
        // A port that did not open would only end the update in a "Read timeout" later.
        return nullptr;
    }
    return connection;
}

void OsmerinRemoteIOFirmwareUpdater::on_button_update_clicked()
{
    ui->button_update->setEnabled(false);
    m_port = openSerial();
    m_connection = m_port.get();
    if (m_connection)
        burnFirmware();
    ui->button_update->setEnabled(true);
    if (m_progress)
        m_progress->close();
    if (m_port) {
        m_port->close();
        m_port.reset();
        m_connection = nullptr;
    }
}

int OsmerinRemoteIOFirmwareUpdater::pageCount() const
{
    return (m_hex.imageLength + PageSize - 1) / PageSize;
}

void OsmerinRemoteIOFirmwareUpdater::showProgressDialog()
{
    delete m_progress;
    const int roundedLength = pageCount() * PageSize;
    m_progress = new QProgressDialog(QStringLiteral("Burning Firmware to Remote IO..."),
                                     QStringLiteral("Abort"), 0, 2 * roundedLength + 1, this);
    m_progress->setWindowFlags(dialogWithCloseButtonOnly);
    m_progress->setWindowModality(Qt::WindowModal);
    // Shown at once: only a dialog that has been shown processes events (and so notices Abort)
    // each time its value is set.
    m_progress->setMinimumDuration(0);
    m_progress->setValue(1);
    ProgressDialogSize::show(*m_progress);
}

void OsmerinRemoteIOFirmwareUpdater::burnFirmware()
{
    m_nodeId = ui->spinBox_nodeid->value();
    m_hex.fileName = ui->comboBox_firmware_file->currentData(Qt::UserRole).toString().toStdString();
    saveSettings();
    if (!loadHexFile(this, "OsmerinRemoteIOFirmwareUpdater", m_hex, HexPageProfile::canopen()))
        return;
    progressCounter = 0;
    showProgressDialog();
    try {
        if (!enterBootMode())
            return;
        writeFirmware();
        ProgressDialogSize::setLabelText(*m_progress, QStringLiteral("Reading Flash for comparing..."));
        std::fill(m_readBack.begin(), m_readBack.end(), 0xFF);
        readFlash();
        if (m_progress->wasCanceled())
            return;
        if (!compareImage()) {
            QMessageBox::critical(this, tr("Burning Firmware Failed"), tr("File is different"),
                                  QMessageBox::Ok);
            return;
        }
        reportVerified();
        ProgressDialogSize::setLabelText(*m_progress, tr("Enter user mode...(wait 5 second)"));
        if (!enterUserMode())
            return;
        m_progress->setMaximum(1);
        m_progress->setValue(1);
        QMessageBox::information(this, tr("Burning Firmware Successful"),
                                 tr("Firmware of remote IO has beed updated."), QMessageBox::Ok);
    } catch (timeout_exception *timeout) {
        const QString message = QString::fromStdString(timeout->what());
        delete timeout;
        QMessageBox::critical(this, tr("Read timeout"), message, QMessageBox::Ok);
    }
}

void OsmerinRemoteIOFirmwareUpdater::writeFirmware()
{
    writeCommand(StartWriting, WriteStartKey);
    uint32_t address = FirstPageAddress;
    int byteIndex = 0;
    QElapsedTimer total;
    total.start();
    for (int page = 0; page < pageCount(); ++page) {
        if (m_progress->wasCanceled())
            break;
        QElapsedTimer pageTimer;
        pageTimer.start();
        for (int n = 0; n < PageBufferWords; ++n) {
            const uint32_t value = littleEndianWord(&m_hex.image[byteIndex]);
            uint32_t echo = 0;
            m_connection->sendDownloadRequest(static_cast<uint8_t>(m_nodeId), PageBufferObject,
                                              static_cast<uint8_t>(n), &value);
            m_connection->readDownloadResponse(PageBufferObject, static_cast<uint8_t>(n), &echo);
            byteIndex += 4;
        }
        qDebug() << QStringLiteral("Byte index %1 Cost time %2 microsecond")
                        .arg(byteIndex).arg(pageTimer.elapsed());
        writeCommand(ProgramPage, address);
        m_progress->setValue(progressCounter);
        progressCounter += PageSize;
        address += PageSize;
    }
    qDebug() << QStringLiteral("Write %1 Bytes, Cost time %2 microsecond")
                    .arg(byteIndex).arg(total.elapsed());
}

void OsmerinRemoteIOFirmwareUpdater::readFlash()
{
    uint32_t address = FirstPageAddress;
    int byteIndex = 0;
    QElapsedTimer total;
    total.start();
    for (int page = 0; page < pageCount(); ++page) {
        if (m_progress->wasCanceled())
            break;
        writeCommand(FetchPage, address);
        for (int n = 0; n < PageBufferWords; ++n) {
            uint32_t word = 0;
            m_connection->sendUploadRequest(static_cast<uint8_t>(m_nodeId), PageBufferObject,
                                            static_cast<uint8_t>(n));
            m_connection->readUploadResponse(PageBufferObject, static_cast<uint8_t>(n), &word);
            storeLittleEndianWord(&m_readBack[byteIndex], word);
            byteIndex += 4;
        }
        m_progress->setValue(progressCounter);
        progressCounter += PageSize;
        address += PageSize;
    }
    qDebug() << QStringLiteral("Read %1 Bytes, Cost time %2 microsecond")
                    .arg(byteIndex).arg(total.elapsed());
}

bool OsmerinRemoteIOFirmwareUpdater::compareImage() const
{
    return std::equal(m_hex.image.begin(), m_hex.image.begin() + m_hex.imageLength,
                      m_readBack.begin());
}

void OsmerinRemoteIOFirmwareUpdater::writeCommand(uint8_t command, uint32_t value)
{
    uint32_t reply = 0;
    m_connection->sendDownloadRequest(static_cast<uint8_t>(m_nodeId), BootCommandObject, command,
                                      &value);
    m_connection->readDownloadResponse(BootCommandObject, command, &reply);
}

uint32_t OsmerinRemoteIOFirmwareUpdater::readModeSignature()
{
    uint32_t signature = 0;
    m_connection->sendUploadRequest(static_cast<uint8_t>(m_nodeId), ModeSignatureObject,
                                    ModeSignatureSubIndex);
    m_connection->readUploadResponse(ModeSignatureObject, ModeSignatureSubIndex, &signature);
    return signature;
}

bool OsmerinRemoteIOFirmwareUpdater::checkBootMode()
{
    qDebug() << "Check is boot mode";
    const uint32_t signature = readModeSignature();
    uint8_t wire[4];
    storeLittleEndianWord(wire, signature);
    qDebug() << Qt::hex << static_cast<unsigned>(wire[0]) << static_cast<unsigned>(wire[1])
             << static_cast<unsigned>(wire[2]) << static_cast<unsigned>(wire[3]);
    return signature == BootLoaderSignature;
}

bool OsmerinRemoteIOFirmwareUpdater::checkUserMode()
{
    return readModeSignature() == UserFirmwareSignature;
}

bool OsmerinRemoteIOFirmwareUpdater::enterBootMode()
{
    // A coupler left in its boot loader by an interrupted update goes straight on.
    if (checkBootMode())
        return true;
    const uint32_t key = BootKey;
    m_connection->sendDownloadRequest(static_cast<uint8_t>(m_nodeId), BootCommandObject,
                                      RequestBoot, &key);
    FixedWait::blocking(EnterBootPauseMs);
    writeCommand(ConfirmBoot, BootKey);
    if (checkBootMode())
        return true;
    QMessageBox::critical(this, QCoreApplication::applicationName(), tr("Enter Boot Mode Failed"),
                          QMessageBox::Ok);
    return false;
}

bool OsmerinRemoteIOFirmwareUpdater::enterUserMode()
{
    const uint32_t key = BootKey;
    m_connection->sendDownloadRequest(static_cast<uint8_t>(m_nodeId), BootCommandObject,
                                      StartUser, &key);
    FixedWait::blocking(UserFirmwareStartMs);
    m_connection->receiveGuard();
    if (checkUserMode())
        return true;
    QMessageBox::critical(this, QCoreApplication::applicationName(), tr("Enter User Mode Failed"),
                          QMessageBox::Ok);
    return false;
}

void OsmerinRemoteIOFirmwareUpdater::reportVerified()
{
    writeCommand(ReportVerified, BootKey);
}
