#pragma once

#include <QString>
#include <QThread>

#include <cstdint>

class EthercatCouplerUpdate;

// Runs one EtherCAT firmware update (updateSlaveFirmware of the page's update object) away from
// the GUI thread and reports its end with done(); isFailed() then tells how it went.
class FirmwareUpdatorThread : public QThread
{
    Q_OBJECT

public:
    FirmwareUpdatorThread(EthercatCouplerUpdate &update, const QString &interfaceName, uint8_t slave,
                          const QString &fileName, QObject *parent);

    int isFailed() const { return failed; }
    // The result of the FoE write; read after done().
    int result() const { return lastResult; }

signals:
    void done();

protected:
    void run() override;

private:
    EthercatCouplerUpdate &update;
    QString interfaceName;
    uint8_t slave;
    QString fileName;
    int failed = 1;
    int lastResult = 0;
};
