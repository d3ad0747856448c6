#pragma once

#include <cstdint>
#include <string>

// The connection to the coupler that the module transport talks through: raw function-109
// requests, their framed replies, and holding-register reads. The product uses libmodbus over
// TCP (ModbusTcpLink); tests may put the simulated module bank directly behind it.
class PassThroughLink
{
public:
    virtual ~PassThroughLink() = default;

    // How long a reply wait lasts before its first byte.
    virtual void setResponseTimeout(int seconds, int microseconds) = 0;
    // Sends a raw request (unit identifier first); the link adds the MBAP header.
    virtual void sendRawRequest(const uint8_t *request, int length) = 0;
    // Waits for one reply frame (MBAP header included, at most 260 bytes). Returns its length,
    // or -1 when none came; `frame` is then unchanged.
    virtual int receiveReply(uint8_t *frame) = 0;
    // Reads one holding register; false when the read failed.
    virtual bool readHoldingRegister(int address, uint16_t &value) = 0;
    // Why the last failed read failed, for a person ("Connection timed out"); empty when unknown.
    virtual std::string lastReadFailure() const { return {}; }
};
