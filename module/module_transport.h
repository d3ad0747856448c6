#pragma once

#include "core/update_tools.h"
#include "modbus/pass_through_link.h"
#include "module/pass_through_frame.h"

#include <cstdint>
#include <string>

// The module side of a coupler: selecting one module, carrying boot-loader bytes to it inside
// function 109 and reading the module information registers. Holds the request and reply
// buffers of one run; the answer of a module is the reply from byte 11 on. The fixed pauses of
// the module side go through `wait`, each boot-loader exchange's text and time to `log`.
class ModuleTransport
{
public:
    static constexpr int kSelectPauseMs = 100;        // between the two target controls
    static constexpr int kSelectSettleMs = 1000;      // before the boot loader is addressed
    static constexpr int kInformationBlockBase = 29900;
    static constexpr int kInformationBlockStride = 100;

    ModuleTransport(PassThroughLink &link, Wait wait, DiagnosticLog log = nullptr);

    static int productCodeRegister(int module);
    static int hardwareVersionRegister(int module);

    void clearRequestBuffer();
    void setResponseTimeout(int seconds, int microseconds);

    void selectModule(int module);
    // Sends `text` and waits for one reply; true when a reply came.
    bool exchangeBootText(const std::string &text);
    // Sends raw bytes and waits for one reply (a packet that ends in a command); true on a reply.
    bool exchangeBootBytes(const uint8_t *bytes, int n);
    // Sends raw bytes without waiting: data for a pending write draw no answer.
    void sendBootData(const uint8_t *bytes, int n);
    void releaseModule();
    // One of the fixed pauses between exchanges.
    void pause(int milliseconds) const { m_wait(milliseconds); }
    // The register value, or 0 (and why, in `failure`) when the read failed.
    uint16_t readModuleRegister(int address, std::string *failure = nullptr);

    // The module's answer to the last reply that came (empty before the first one).
    const uint8_t *answer() const { return m_reply + PassThroughFrame::kAnswerOffset; }
    int answerLength() const;

private:
    void writeHeader(uint8_t subFunction);
    void sendTargetControl(uint8_t value, uint8_t marker);
    void putBootBytes(const uint8_t *bytes, int n);
    bool awaitReply();

    PassThroughLink &m_link;
    Wait m_wait;
    DiagnosticLog m_log;
    uint8_t m_request[PassThroughFrame::kRequestBufferBytes] = {};
    uint8_t m_reply[PassThroughFrame::kMaxFrameBytes] = {};
    int m_replyLength = 0;
};
