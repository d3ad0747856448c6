#pragma once

#include <QString>
#include <QThread>

#include <cstdint>

// Runs one EtherCAT firmware update (updateSlaveFirmware) away from the GUI thread and
// reports its end with done(); isFailed() then tells how it went.
class FirmwareUpdatorThread : public QThread
{
    Q_OBJECT

public:
    FirmwareUpdatorThread(const QString &interfaceName, uint8_t slave, const QString &fileName,
                          QObject *parent);

    int isFailed() const { return failed; }
    // Why a failed update failed, for the technician; read after done().
    QString failureReason() const { return reason; }

signals:
    void done();

protected:
    void run() override;

private:
    QString interfaceName;
    uint8_t slave;
    QString fileName;
    int failed = 1;
    QString reason;
};
