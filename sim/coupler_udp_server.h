#pragma once

// The simulated coupler's UDP side: the boot loader on <address>:10275, and a second port from
// which the "answer from another port" fault replies and on which it then takes requests too.
// Replies go to the sender's address at the port the request names in bytes 7-8, or, for a
// device that ignores that field, to the port the request came from.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

class SimulatedCouplerBootLoader;

class CouplerUdpServer
{
public:
    enum class ReplyPort { NamedInRequest, SourcePort };

    CouplerUdpServer(SimulatedCouplerBootLoader &bootLoader, std::string address, uint16_t port,
                     uint16_t otherPort, ReplyPort replyPort);
    ~CouplerUdpServer();

    CouplerUdpServer(const CouplerUdpServer &) = delete;
    CouplerUdpServer &operator=(const CouplerUdpServer &) = delete;

    // False (errno set) when a port cannot be bound.
    bool start();
    void stop();

private:
    void serve();
    void serveOne(int socket, uint16_t arrivedAtPort);

    SimulatedCouplerBootLoader &m_bootLoader;
    std::string m_address;
    uint16_t m_ports[2];
    ReplyPort m_replyPort;
    int m_sockets[2] = {-1, -1};
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};
