#pragma once

// The request/reply exchange with the coupler's boot loader on the page's bound UDP socket.
#include "coupler_eth/coupler_boot_link.h"

#include <netinet/in.h>

#include <cstdint>

class CouplerUdpLink : public CouplerBootLink
{
public:
    // A reply has 16 tries about 10 ms apart, some 150 ms in all, to arrive. Each wait ends as
    // soon as a datagram is queued, so an answer is taken the moment it is there.
    static constexpr int kReceiveAttempts = 16;
    static constexpr int kAttemptIntervalMs = 10;

    // `descriptor`: the bound, non-blocking socket; `destination`: the coupler at port 10275;
    // `listenPort`: the port the socket is bound to, carried in every request.
    CouplerUdpLink(int descriptor, const sockaddr_in &destination, uint16_t listenPort);

    const sockaddr_in &destination() const { return m_destination; }

    uint16_t listenPort() const override { return m_listenPort; }
    // Datagrams still queued from before are dropped first: whatever arrives next answers this
    // request, and a late or unasked-for datagram never redirects the requests.
    void send(CouplerBootCommand command, const CouplerBoot::Bytes &request) override;
    // The sender of a datagram becomes the destination: later requests go to whoever answered
    // last. A longer datagram is cut at 512 bytes.
    int receiveReply(uint8_t *buffer) override;

    std::string peerText() const override;
    int replyWindowMs() const override { return (kReceiveAttempts - 1) * kAttemptIntervalMs; }

private:
    int m_descriptor;
    sockaddr_in m_destination;
    uint16_t m_listenPort;
};
