#include "coupler_can/serial_open_failure.h"

#include "coupler_can/usb_pass_through_canopen_comm.h"

#include <QCoreApplication>

UpdateOutcome serialOpenFailure(const QString &portName, const std::exception &failure)
{
    const QString comPrefix = QStringLiteral("COM");
    const QString title = portName.startsWith(comPrefix)
        ? QCoreApplication::translate("OsmerinRemoteIOFirmwareUpdater", "Open Serial COM%1 failed")
              .arg(portName.mid(comPrefix.size()))
        : QStringLiteral("Open Serial %1 failed").arg(portName);
    const QString text = failure.what()[0] ? QString::fromStdString(failure.what()) : QStringLiteral("Unknown exception");
    const auto *openError = dynamic_cast<const SerialOpenError *>(&failure);
    return UpdateOutcome::failed(UpdateOutcome::Icon::Critical, title, text,
                                 openError ? QString::fromStdString(openError->detail()) : QString());
}
