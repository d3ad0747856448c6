#include "coupler_eth/coupler_udp_link.h"

#include "coupler_eth/coupler_boot_exceptions.h"
#include "platform/datagram_socket.h"

CouplerUdpLink::CouplerUdpLink(int descriptor, const sockaddr_in &destination, uint16_t listenPort)
    : m_descriptor(descriptor), m_destination(destination), m_listenPort(listenPort)
{
}

void CouplerUdpLink::send(CouplerBootCommand command, const CouplerBoot::Bytes &request)
{
    DatagramSocket::discardQueued(m_descriptor);
    const int length = static_cast<int>(request.size());
    const int sent = DatagramSocket::sendTo(m_descriptor, request.data(), length, m_destination);
    if (sent != length)
        throw SendFailedException(CouplerBoot::commandName(command), sent);
}

int CouplerUdpLink::receiveReply(uint8_t *buffer)
{
    for (int attempt = 1; attempt <= kReceiveAttempts; ++attempt) {
        const int length = DatagramSocket::receiveFrom(m_descriptor, buffer,
                                                       CouplerBoot::kReceiveCapacity, m_destination);
        if (length >= 0)
            return length;
        if (attempt < kReceiveAttempts)
            DatagramSocket::waitUntilReadable(m_descriptor, kAttemptIntervalMs);
    }
    return -1;
}

std::string CouplerUdpLink::peerText() const
{
    return DatagramSocket::addressText(m_destination);
}
