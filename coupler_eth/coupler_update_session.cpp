#include "coupler_eth/coupler_update_session.h"

#include "coupler_eth/coupler_boot_protocol.h"
#include "coupler_eth/coupler_update_outcome.h"
#include "platform/datagram_socket.h"

#include <QUdpSocket>

namespace {

int broadcastOff(QUdpSocket &socket)
{
    const int descriptor = int(socket.socketDescriptor());
    DatagramSocket::disableBroadcast(descriptor);
    return descriptor;
}

}

CouplerUpdateSession::CouplerUpdateSession(QUdpSocket &socket, const std::string &ip,
                                           const UpdateTools &tools, const UpdateEnvironment &environment)
    : m_ip(ip),
      m_link(broadcastOff(socket),
             DatagramSocket::socketAddress(DatagramSocket::addressFromText(ip), CouplerBoot::kDevicePort),
             socket.localPort()),
      m_engine(m_link, tools, environment.modbusPort)
{
}

UpdateOutcome CouplerUpdateSession::update(const HexImage &hex, std::vector<uint8_t> &readBack)
{
    return couplerUpdateOutcome(m_engine.update(hex, m_ip, readBack));
}
