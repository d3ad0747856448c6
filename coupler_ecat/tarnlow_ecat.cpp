#include "coupler_ecat/tarnlow_ecat.h"
#include "ui_tarnlowecat.h"

#include "core/application_identity.h"
#include "core/file_sha256.h"
#include "page_support/firmware_folder_panel.h"
#include "page_support/page_history.h"
#include "page_support/update_progress_dialog.h"
#include "page_support/show_message.h"
#include "coupler_ecat/adapter_list.h"
#include "coupler_ecat/firmware_updator_thread.h"
#include "coupler_ecat/ethercat_coupler_update.h"
#include "coupler_ecat/ethercat_update_outcome.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QSettings>

#include <cstdio>
#include <cstdlib>

namespace {
const char nicKey[] = "Settings/nic";
constexpr uint8_t couplerPosition = 1;
}

TarnlowECAT::TarnlowECAT(QWidget *parent, const UpdateEnvironment &environment, Ethercat::LinkOpener opener)
    : QMainWindow(parent),
      m_environment(environment),
      ui(new Ui::TarnlowECAT),
      update(new EthercatCouplerUpdate(std::move(opener), {unshownProgress, foeAbortRequested,
                                                           environment.waits.blocking(), standardOutputLog()}))
{
    ApplicationIdentity::apply();
    ui->setupUi(this);
    refreshAdapters();
    ui->comboBox->installEventFilter(this);
    loadFirmwareFolder();
    loadSettings();
    // Without an adapter chosen there is nothing to update: the page chooses none that carries
    // the plant's network.
    connect(ui->comboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &TarnlowECAT::updateButtonState);
    updateButtonState();
}

void TarnlowECAT::updateButtonState()
{
    ui->button_update->setEnabled(!insideUpdate && !runningWorker && ui->comboBox->currentIndex() >= 0);
}

TarnlowECAT::~TarnlowECAT()
{
    // A worker may still run its closing steps after an abort; it must end before it goes.
    foeAbortRequested.request();
    for (FirmwareUpdatorThread *worker : findChildren<FirmwareUpdatorThread *>())
        worker->wait();
    delete ui;
}

void TarnlowECAT::refreshAdapters()
{
    QVector<AdapterEntry> entries;
    QString error;
    if (!listAdapters(entries, error)) {
        std::fprintf(stderr, "Error in pcap_findalldevs_ex: %s\n", error.toUtf8().constData());
        std::exit(1);
    }
    fillAdapterComboBox(ui->comboBox, entries);
}

bool TarnlowECAT::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->comboBox && event->type() == QEvent::MouseButtonPress)
        refreshAdapters();
    return QMainWindow::eventFilter(watched, event);
}

void TarnlowECAT::loadFirmwareFolder()
{
    fillFirmwareFolderPanel(ui->comboBox_firmware_file, ui->textEdit_explain, FirmwareFolder::ethercat(),
                            m_environment.firmwareRoot);
}

void TarnlowECAT::loadSettings()
{
    QSettings settings;
    const QVariant file = settings.value(FirmwareFolder::ethercat().settingsKey);
    const QVariant nic = settings.value(nicKey);
    selectStoredFirmware(ui->comboBox_firmware_file, file.toString());
    const QString adapter = nic.toString();
    if (!nic.isValid() || adapter.isEmpty())
        return;
    int index = ui->comboBox->findText(adapter, Qt::MatchExactly | Qt::MatchCaseSensitive);
    // The addresses in the text may have changed since (or an older version stored the bare
    // name): the adapter's name still finds it.
    if (index < 0)
        index = ui->comboBox->findData(captureNameOfDisplayText(adapter));
    if (index >= 0)
        ui->comboBox->setCurrentIndex(index);
}

void TarnlowECAT::saveSettings()
{
    QSettings settings;
    settings.setValue(FirmwareFolder::ethercat().settingsKey, ui->comboBox_firmware_file->currentText());
    settings.setValue(nicKey, ui->comboBox->currentText());
}

void TarnlowECAT::on_button_update_clicked()
{
    ui->button_update->setEnabled(false);
    insideUpdate = true;
    burnFirmware();
    insideUpdate = false;
    updateButtonState();
    if (progressDialog) {
        progressDialog->close();
        progressDialog->deleteLater();
        progressDialog = nullptr;
    }
}

void TarnlowECAT::on_progress_dialog_abort()
{
    aborted = true;
}

void TarnlowECAT::burnFirmware()
{
    if (ui->comboBox->currentIndex() < 0)
        return;
    const QString interfaceName = ui->comboBox->currentData().toString();
    const QString firmwarePath = ui->comboBox_firmware_file->currentData().toString();
    saveSettings();
    if (const std::optional<UpdateResult> refusal = refuseFileForAnotherPage(firmwarePath.toStdString())) {
        showOutcome(this, ethercatUpdateOutcome(*refusal));
        return;
    }

    HistoryEntry start = pageHistoryStart(QStringLiteral("ethercat"), QStringLiteral("EtherCAT coupler on %1").arg(interfaceName),
                                          firmwarePath);
    start.adapter = interfaceName;
    start.slave = couplerPosition;
    start.imageSha256 = sha256OfFile(firmwarePath);
    PageHistory history(m_environment, start, nullptr);
    progressDialog = UpdateProgressDialog::create(this, QStringLiteral("Burning Firmware to Vq-FBUS..."), 0,
                                                  UpdateProgressDialog::TitleBar::CloseButtonOnly);
    UpdateProgressDialog::show(*progressDialog);

    QEventLoop loop;
    connect(progressDialog, &QProgressDialog::canceled, &loop, &QEventLoop::quit);
    connect(progressDialog, &QProgressDialog::canceled, this, &TarnlowECAT::on_progress_dialog_abort);
    foeAbortRequested.clear();
    aborted = false;

    auto *worker = new FirmwareUpdatorThread(*update, interfaceName, couplerPosition, firmwarePath, this);
    runningWorker = worker;
    bool workerDone = false;
    connect(worker, &FirmwareUpdatorThread::done, &loop, [&workerDone] { workerDone = true; });
    connect(worker, &FirmwareUpdatorThread::done, this, [this, worker] {
        if (runningWorker == worker)
            runningWorker = nullptr;
        updateButtonState();
    });
    connect(worker, &FirmwareUpdatorThread::done, &loop, &QEventLoop::quit);
    // Gone once its closing steps are over, also after an Abort.
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
    loop.exec();
    foeAbortRequested.request();

    // The wait also ends when the application quits; the worker's results are only read once it
    // has said it is done. An update the program quits in the middle of stays unfinished.
    if (aborted) {
        history.finish(UpdateOutcome::aborted(), {});
        return;
    }
    if (!workerDone)
        return;
    // The box stands alone: the busy dialog and its Abort are gone once the update has ended.
    progressDialog->close();
    showOutcome(this, history.finish(ethercatUpdateOutcome(update->resultOf(worker->result())), {}));
}
