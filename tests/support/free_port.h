#pragma once

#include <cstdint>

// Ports the system finds free at this moment, so that no test depends on a port another test or
// program may hold.
namespace FreePort {

// A TCP port nobody listens on at `address` (a dotted IPv4 address).
uint16_t tcp(const char *address);
// A UDP port nobody has bound on any address.
uint16_t udp();

}
