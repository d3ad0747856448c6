#pragma once

// The request/reply exchange with the coupler's boot loader on the page's bound UDP socket.
#include "coupler_eth/coupler_boot_protocol.h"

#include <netinet/in.h>

#include <cstdint>

class CouplerUdpLink
{
public:
    // A reply has 16 tries about 10 ms apart, some 150 ms in all, to arrive. Each wait ends as
    // soon as a datagram is queued, so an answer is taken the moment it is there.
    static constexpr int kReceiveAttempts = 16;
    static constexpr int kAttemptIntervalMs = 10;

    // `descriptor`: the bound, non-blocking socket; `destination`: the coupler at port 10275;
    // `listenPort`: the port the socket is bound to, carried in every request.
    CouplerUdpLink(int descriptor, const sockaddr_in &destination, uint16_t listenPort);

    uint16_t listenPort() const { return m_listenPort; }
    const sockaddr_in &destination() const { return m_destination; }

    // Sends one request whole or throws SendFailedException with the command's name. Datagrams
    // still queued from before are dropped first: whatever arrives next answers this request.
    void send(CouplerBootCommand command, const CouplerBoot::Bytes &request);

    // One datagram of at most 512 bytes into `buffer` (512 bytes); its length, or -1 when none
    // came. The sender becomes the destination: later requests go to whoever answered last.
    int receiveReply(uint8_t *buffer);

    // For the texts a person reads: where the requests go, and the milliseconds a reply may take.
    static int replyWindowMs() { return (kReceiveAttempts - 1) * kAttemptIntervalMs; }

private:
    int m_descriptor;
    sockaddr_in m_destination;
    uint16_t m_listenPort;
};
