#pragma once

#include "modbus/mbap_frame.h"
#include "modbus/pass_through_link.h"
#include "sim/module_bank.h"

#include <cstring>
#include <deque>
#include <vector>

// Puts the simulated module bank straight behind the transport, without a coupler or TCP: each
// raw request becomes the PDU the bank sees, each answer a framed reply as the coupler sends it.
class BankLink : public PassThroughLink
{
public:
    explicit BankLink(ModuleBank &bank) : m_bank(bank) {}

    void setResponseTimeout(int, int) override {}

    void sendRawRequest(const uint8_t *request, int length) override
    {
        rawRequests.emplace_back(request, request + length);
        const std::vector<uint8_t> pdu(request + 1, request + length);
        const ExtensionReply reply = m_bank.handleUserFunction(pdu);
        if (!reply.send || dropReplies)
            return;
        m_replies.push_back(Mbap::frame(0, request[0], reply.pdu));
    }

    int receiveReply(uint8_t *frame) override
    {
        if (m_replies.empty())
            return -1;
        const std::vector<uint8_t> next = m_replies.front();
        m_replies.pop_front();
        std::memcpy(frame, next.data(), next.size());
        return static_cast<int>(next.size());
    }

    bool readHoldingRegister(int address, uint16_t &value) override
    {
        return m_bank.readHoldingRegister(address, value);
    }

    std::vector<std::vector<uint8_t>> rawRequests;
    bool dropReplies = false;   // the coupler stops answering

private:
    ModuleBank &m_bank;
    std::deque<std::vector<uint8_t>> m_replies;
};
