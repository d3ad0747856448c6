#pragma once

// One coupler update as the page and the command line both run it: the link to the coupler's
// boot port over the bound listen socket, and the engine on that link with the caller's tools and
// the environment's Modbus port.
#include "core/update_environment.h"
#include "core/update_outcome.h"
#include "coupler_eth/coupler_udp_link.h"
#include "coupler_eth/coupler_update_engine.h"

#include <string>
#include <vector>

class QUdpSocket;

class CouplerUpdateSession
{
public:
    // Broadcast is turned off on `socket` (Qt turns it on for its UDP sockets): an incomplete
    // address (255.255.255.255) must fail to send rather than reach every coupler on the network.
    CouplerUpdateSession(QUdpSocket &socket, const std::string &ip, const UpdateTools &tools,
                         const UpdateEnvironment &environment);

    // The checks, the wait and the run for the loaded file, ended in the page's box; `readBack`
    // receives the flash.
    UpdateOutcome update(const HexImage &hex, std::vector<uint8_t> &readBack);

private:
    std::string m_ip;
    CouplerUdpLink m_link;
    CouplerUpdateEngine m_engine;
};
