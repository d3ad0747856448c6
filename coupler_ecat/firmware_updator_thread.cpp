#include "coupler_ecat/firmware_updator_thread.h"

#include "coupler_ecat/ethercat_coupler_update.h"

FirmwareUpdatorThread::FirmwareUpdatorThread(EthercatCouplerUpdate &update, const QString &interfaceName,
                                             uint8_t slave, const QString &fileName, QObject *parent)
    : QThread(parent), update(update), interfaceName(interfaceName), slave(slave), fileName(fileName)
{
}

void FirmwareUpdatorThread::run()
{
    const QByteArray file = fileName.toUtf8();
    const QByteArray adapter = interfaceName.toUtf8();
    lastResult = update.updateSlaveFirmware(adapter.constData(), slave, file.constData());
    failed = lastResult <= 0 ? 1 : 0;
    emit done();
}
