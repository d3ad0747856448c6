#pragma once

#include "core/update_environment.h"
#include "core/update_tools.h"
#include "ethercat/ethercat_link.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

class QProgressDialog;
class FirmwareUpdatorThread;
class EthercatCouplerUpdate;

namespace Ui {
class TarnlowECAT;
}

// The EtherCAT page: firmware file and network adapter, and an Update that runs the FoE
// update in a worker thread under a busy dialog.
class TarnlowECAT : public QMainWindow
{
    Q_OBJECT

public:
    // The update runs with `environment` (the product's waits and folders unless given others)
    // and opens its segment with `opener` (a raw adapter unless given another).
    explicit TarnlowECAT(QWidget *parent = nullptr, const UpdateEnvironment &environment = UpdateEnvironment(),
                         Ethercat::LinkOpener opener = Ethercat::defaultLinkOpener());
    ~TarnlowECAT() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void on_button_update_clicked();
    void on_progress_dialog_abort();

private:
    void refreshAdapters();
    void loadFirmwareFolder();
    void loadSettings();
    void saveSettings();
    void burnFirmware();
    // Update is usable when an adapter is chosen and no update runs.
    void updateButtonState();

    UpdateEnvironment m_environment;
    Ui::TarnlowECAT *ui;
    QProgressDialog *progressDialog = nullptr;
    bool aborted = false;
    // Set by Abort in the GUI thread, read by the worker after every FoE data message.
    CancelFlag foeAbortRequested;
    // The page shows a busy dialog: the bytes counted are not shown.
    UpdateProgress unshownProgress;
    // The master and the firmware buffer of this page's updates.
    std::unique_ptr<EthercatCouplerUpdate> update;
    // The worker of the latest update while it runs: the master and the firmware buffer allow
    // one update at a time, so Update stays disabled until it is done.
    QPointer<FirmwareUpdatorThread> runningWorker;
    bool insideUpdate = false;
};
