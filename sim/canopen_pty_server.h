#pragma once

#include "sim/canopen_simulated_coupler.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// Serves a CanopenSimulatedCoupler on a pseudo-terminal: the updater opens the terminal's
// device (through a symbolic link, so a COM-port table can name it), and a thread of ours reads
// the 11-byte request records from the other end and writes the replies.
class CanopenPtyServer
{
public:
    // How the replies travel, besides what the coupler's own fault switches change.
    struct Timing {
        int replyDelayUs = 0;   // before each reply
        bool splitReplies = false;  // each reply in two pieces (5 bytes, then the rest)
        int pieceGapMs = 20;    // between the two pieces
    };

    CanopenPtyServer(uint8_t nodeId, bool startInBootLoader);
    ~CanopenPtyServer();

    // Opens the terminal, links `linkPath` to its device (replacing what is there) and starts
    // serving. False (with the reason in error()) when the terminal cannot be made.
    bool start(const std::string &linkPath);
    void stop();
    const std::string &devicePath() const { return m_devicePath; }
    const std::string &error() const { return m_error; }

    // Runs `access` on the coupler while the serving thread keeps off it.
    void withCoupler(const std::function<void(CanopenSimulatedCoupler &)> &access);
    void setTiming(const Timing &timing);
    // Called on the serving thread after each request has been handled, with its 1-based number.
    void onRequest(std::function<void(int)> observer);

private:
    void serve();
    void sendReply(const std::vector<uint8_t> &bytes, const Timing &timing);

    std::mutex m_mutex;
    CanopenSimulatedCoupler m_coupler;
    Timing m_timing;
    std::function<void(int)> m_observer;
    int m_master = -1;
    int m_keepOpen = -1;  // our own opening of the device keeps the far end from hanging up
    std::atomic<bool> m_stopping{false};
    std::string m_linkPath;
    std::string m_devicePath;
    std::string m_error;
    std::thread m_thread;
};
