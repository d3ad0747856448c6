#pragma once

#include "modbus/pass_through_link.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

// An in-memory coupler for engine tests. It holds the exchanges a run must make, in order: raw
// pass-through requests expected byte for byte, each with the reply frame to give (or silence),
// and register reads, each with the value to give (or a failed read). Anything the run does
// that is not the next expected exchange is noted in `unexpected` and answered by silence.
class ScriptedPassThroughLink : public PassThroughLink
{
public:
    using Bytes = std::vector<uint8_t>;

    // A raw request (unit identifier first) and the reply frame to give, if any.
    void expectRequest(const Bytes &request, std::optional<Bytes> reply);
    // A boot-loader-bytes request carrying `sent`, answered with `answer` (none: silence).
    void expectBootBytes(const std::string &sent, std::optional<std::string> answer);
    // A register read and its value; none: the read fails.
    void expectRegisterRead(int address, std::optional<uint16_t> value);

    // The answer of a coupler to a boot-loader-bytes request whose module answered `answer`.
    static Bytes replyFrame(const std::string &answer);

    void setResponseTimeout(int, int) override {}
    void sendRawRequest(const uint8_t *request, int length) override;
    int receiveReply(uint8_t *frame) override;
    bool readHoldingRegister(int address, uint16_t &value) override;
    std::string lastReadFailure() const override { return "Connection timed out"; }

    // How many expected exchanges the run has not made.
    size_t remaining() const { return m_script.size(); }
    std::vector<std::string> unexpected;

private:
    struct Exchange {
        bool registerRead = false;
        Bytes request;                       // raw request, for a pass-through exchange
        int address = 0;                     // for a register read
        std::optional<Bytes> reply;          // frame, or the register value as two bytes
    };

    static std::string describe(const Exchange &exchange);

    std::deque<Exchange> m_script;
    std::deque<Bytes> m_pendingReplies;
    size_t m_made = 0;
};
