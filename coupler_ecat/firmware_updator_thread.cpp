#include "coupler_ecat/firmware_updator_thread.h"

#include "coupler_ecat/slave_firmware_update.h"

FirmwareUpdatorThread::FirmwareUpdatorThread(const QString &interfaceName, uint8_t slave,
                                             const QString &fileName, QObject *parent)
    : QThread(parent), interfaceName(interfaceName), slave(slave), fileName(fileName)
{
}

void FirmwareUpdatorThread::run()
{
    const QByteArray file = fileName.toUtf8();
    const QByteArray adapter = interfaceName.toUtf8();
    std::string why;
    const int result = updateSlaveFirmware(adapter.constData(), slave, file.constData(), &why);
    failed = result <= 0 ? 1 : 0;
    reason = QString::fromStdString(why);
    emit done();
}
