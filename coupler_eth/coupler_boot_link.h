#pragma once

// Where the update engine's requests go and its replies come from: the coupler's boot loader
// over UDP in the product, a scripted peer in tests.
#include "coupler_eth/coupler_boot_protocol.h"

#include <string>

class CouplerBootLink
{
public:
    virtual ~CouplerBootLink() = default;

    // The port the PC listens on, carried in every request.
    virtual uint16_t listenPort() const = 0;
    // Sends one request whole, or throws SendFailedException with the command's name.
    virtual void send(CouplerBootCommand command, const CouplerBoot::Bytes &request) = 0;
    // One reply of at most 512 bytes into `buffer` (512 bytes); its length, or -1 when none came.
    virtual int receiveReply(uint8_t *buffer) = 0;

    // For the texts a person reads: who answers, and how long a reply may take.
    virtual std::string peerText() const = 0;
    virtual int replyWindowMs() const = 0;
};
