#pragma once

// The few socket-library calls the Ethernet coupler page makes on its UDP socket's native
// descriptor, on POSIX sockets: library start, datagram send and receive, byte order and
// address conversion, and the error code of the last failed call.
#include <netinet/in.h>

#include <cstdint>
#include <string>

namespace DatagramSocket {

// Starts the socket library. POSIX sockets need no start; a send to a peer that has gone must
// not end the process, so SIGPIPE is ignored here. Always true.
bool startSocketLibrary();

// Sends one datagram; returns the number of bytes sent, or -1 (see lastSocketError).
int sendTo(int descriptor, const uint8_t *bytes, int length, const sockaddr_in &destination);

// Takes one queued datagram without waiting: at most `capacity` bytes, the sender written into
// `sender`. Returns its length, or -1 when none is queued or the call failed.
int receiveFrom(int descriptor, uint8_t *buffer, int capacity, sockaddr_in &sender);

// Waits up to `milliseconds` for a datagram to be queued; true when one is.
bool waitUntilReadable(int descriptor, int milliseconds);

// Drops every datagram queued on the descriptor; returns how many were dropped.
int discardQueued(int descriptor);

// Broadcast off: a send to a broadcast address then fails instead of reaching every host.
void disableBroadcast(int descriptor);

// Converts a dotted IPv4 text as inet_addr does: network byte order, INADDR_NONE
// (255.255.255.255) when the text is not an address.
uint32_t addressFromText(const std::string &dottedText);

// An IPv4 socket address of `networkAddress` (network order) and `port` (host order).
sockaddr_in socketAddress(uint32_t networkAddress, uint16_t port);

// Host to network byte order of a port.
uint16_t hostToNetwork(uint16_t port);
uint16_t networkToHost(uint16_t port);

// "a.b.c.d:port" of a socket address.
std::string addressText(const sockaddr_in &address);

// The error code of the last failed socket call on this thread (errno here).
int lastSocketError();
// The system's text for such a code.
std::string errorText(int code);

}
