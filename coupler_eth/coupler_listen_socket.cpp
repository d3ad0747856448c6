#include "coupler_eth/coupler_listen_socket.h"

#include "coupler_eth/coupler_boot_protocol.h"

#include <QCoreApplication>
#include <QHostAddress>

namespace {

const char *const kBindAddress = "0.0.0.0";

QString translated(const char *text)
{
    return QCoreApplication::translate("CouplerFirmwareWidget", text);
}

}

std::unique_ptr<QUdpSocket> bindCouplerListenPort(uint16_t port, UpdateOutcome &refusal)
{
    if (port == CouplerBoot::kDevicePort) {
        refusal = UpdateOutcome::failed(UpdateOutcome::Icon::Critical, translated("Change listen port"),
                                        translated("Port %1 is using for UDP broadcast").arg(CouplerBoot::kDevicePort));
        return nullptr;
    }
    auto socket = std::make_unique<QUdpSocket>();
    if (!socket->bind(QHostAddress(QString::fromLatin1(kBindAddress)), port, QAbstractSocket::DontShareAddress)) {
        refusal = UpdateOutcome::failed(UpdateOutcome::Icon::Critical, translated("Port binding failed"),
                                        translated("Port %1 is probably occupied is using for UDP broadcast").arg(port),
                                        socket->errorString());
        refusal.withoutParent = true;
        return nullptr;
    }
    return socket;
}
