#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

// A one-connection TCP server on 127.0.0.x, on a port the system chooses, for transport tests: it records every request frame
// it reads (framed by MBAP length) and answers each with the next scripted reply, sent as the
// given TCP segments with a short gap between them. A request without a scripted reply is not
// answered. A reply may be held back by its entry in `delaysMs` (milliseconds).
class ScriptedModbusServer
{
public:
    using Segments = std::vector<std::vector<uint8_t>>;

    ScriptedModbusServer(const std::string &ip, std::vector<Segments> replies,
                         std::vector<int> delaysMs = {});
    ~ScriptedModbusServer();

    bool listening() const { return m_listener >= 0; }
    int port() const { return m_port; }
    // The request frames read so far; waits until the client has closed the connection.
    std::vector<std::vector<uint8_t>> requestsAfterClose();
    // When each request had been read in full, and when the last segment of each reply left.
    std::vector<std::chrono::steady_clock::time_point> requestTimes;
    std::vector<std::chrono::steady_clock::time_point> replyTimes;

private:
    void serve();

    int m_listener = -1;
    int m_port = 0;
    std::vector<Segments> m_replies;
    std::vector<int> m_delaysMs;
    std::vector<std::vector<uint8_t>> m_requests;
    std::thread m_thread;
};
