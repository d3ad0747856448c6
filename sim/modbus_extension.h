#pragma once

#include <cstdint>
#include <vector>

// What the simulated coupler's Modbus TCP server hands on to the I/O modules behind it: holding
// registers outside the coupler's own, and the user-defined function 109 that carries a
// module's boot-loader traffic. The coupler simulator owns the TCP side (MBAP framing, sockets);
// an extension sees and returns PDUs only (function code first).
struct ExtensionReply {
    std::vector<uint8_t> pdu;     // reply PDU, function code first
    bool send = true;             // false: the request goes unanswered
    int splitAfterBytes = 0;      // >0: send the framed reply in two TCP segments, split here
    int delayMs = 0;              // wait before the reply is sent
    int againAfterMs = 0;         // >0: the same reply goes a second time this much later
};

class ModbusExtension
{
public:
    virtual ~ModbusExtension() = default;

    // A holding register the coupler itself does not hold; false when nobody serves it.
    virtual bool readHoldingRegister(int address, uint16_t &value) = 0;

    // One function-109 request PDU (function code first).
    virtual ExtensionReply handleUserFunction(const std::vector<uint8_t> &requestPdu) = 0;
};
