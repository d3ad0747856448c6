#include "tests/module/scripted_pass_through_link.h"

#include "modbus/mbap_frame.h"
#include "module/pass_through_frame.h"

#include <cstdio>
#include <cstring>

namespace {

std::string hexText(const std::vector<uint8_t> &bytes)
{
    std::string text;
    char pair[4];
    for (uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02X ", byte);
        text += pair;
    }
    return text;
}

}

void ScriptedPassThroughLink::expectRequest(const Bytes &request, std::optional<Bytes> reply)
{
    Exchange exchange;
    exchange.request = request;
    exchange.reply = std::move(reply);
    m_script.push_back(exchange);
}

void ScriptedPassThroughLink::expectBootBytes(const std::string &sent, std::optional<std::string> answer)
{
    Bytes request = {PassThroughFrame::kUnitIdentifier, PassThroughFrame::kFunctionCode, 0,
                     PassThroughFrame::kSubBootBytes, static_cast<uint8_t>(sent.size())};
    request.insert(request.end(), sent.begin(), sent.end());
    expectRequest(request, answer ? std::optional<Bytes>(replyFrame(*answer)) : std::nullopt);
}

void ScriptedPassThroughLink::expectRegisterRead(int address, std::optional<uint16_t> value)
{
    Exchange exchange;
    exchange.registerRead = true;
    exchange.address = address;
    if (value)
        exchange.reply = Bytes{static_cast<uint8_t>(*value >> 8), static_cast<uint8_t>(*value)};
    m_script.push_back(exchange);
}

ScriptedPassThroughLink::Bytes ScriptedPassThroughLink::replyFrame(const std::string &answer)
{
    // Bytes 8 to 10 echo the sub-function and a count; the client skips them.
    Bytes pdu = {PassThroughFrame::kFunctionCode, 0, PassThroughFrame::kSubBootBytes,
                 static_cast<uint8_t>(answer.size())};
    pdu.insert(pdu.end(), answer.begin(), answer.end());
    return Mbap::frame(0, PassThroughFrame::kUnitIdentifier, pdu);
}

std::string ScriptedPassThroughLink::describe(const Exchange &exchange)
{
    if (exchange.registerRead)
        return "register read " + std::to_string(exchange.address);
    return "request " + hexText(exchange.request);
}

void ScriptedPassThroughLink::sendRawRequest(const uint8_t *request, int length)
{
    const Bytes sent(request, request + length);
    const std::string position = "exchange " + std::to_string(++m_made) + ": ";
    if (m_script.empty() || m_script.front().registerRead || m_script.front().request != sent) {
        unexpected.push_back(position + "request " + hexText(sent) + "where the script has "
                             + (m_script.empty() ? std::string("nothing") : describe(m_script.front())));
        return;
    }
    if (m_script.front().reply)
        m_pendingReplies.push_back(*m_script.front().reply);
    m_script.pop_front();
}

int ScriptedPassThroughLink::receiveReply(uint8_t *frame)
{
    if (m_pendingReplies.empty())
        return -1;
    const Bytes reply = m_pendingReplies.front();
    m_pendingReplies.pop_front();
    std::memcpy(frame, reply.data(), reply.size());
    return static_cast<int>(reply.size());
}

bool ScriptedPassThroughLink::readHoldingRegister(int address, uint16_t &value)
{
    const std::string position = "exchange " + std::to_string(++m_made) + ": ";
    if (m_script.empty() || !m_script.front().registerRead || m_script.front().address != address) {
        unexpected.push_back(position + "register read " + std::to_string(address) + " where the script has "
                             + (m_script.empty() ? std::string("nothing") : describe(m_script.front())));
        return false;
    }
    const std::optional<Bytes> reply = m_script.front().reply;
    m_script.pop_front();
    if (!reply)
        return false;
    value = static_cast<uint16_t>((*reply)[0] << 8 | (*reply)[1]);
    return true;
}
