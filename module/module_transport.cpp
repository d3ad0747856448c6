#include "module/module_transport.h"


#include <QElapsedTimer>

#include <algorithm>
#include <cstring>
#include <utility>

using namespace PassThroughFrame;

ModuleTransport::ModuleTransport(PassThroughLink &link, Wait wait, DiagnosticLog log)
    : m_link(link), m_wait(std::move(wait)), m_log(std::move(log))
{
}

int ModuleTransport::productCodeRegister(int module)
{
    return kInformationBlockBase + kInformationBlockStride * module;
}

int ModuleTransport::hardwareVersionRegister(int module)
{
    return productCodeRegister(module) + 1;
}

void ModuleTransport::clearRequestBuffer()
{
    std::memset(m_request, 0, sizeof m_request);
}

void ModuleTransport::setResponseTimeout(int seconds, int microseconds)
{
    m_link.setResponseTimeout(seconds, microseconds);
}

void ModuleTransport::writeHeader(uint8_t subFunction)
{
    m_request[0] = kUnitIdentifier;
    m_request[1] = kFunctionCode;
    m_request[2] = 0;
    m_request[3] = subFunction;
}

void ModuleTransport::sendTargetControl(uint8_t value, uint8_t marker)
{
    writeHeader(kSubTargetControl);
    m_request[4] = value;
    m_request[5] = marker;
    m_link.sendRawRequest(m_request, 6);
    awaitReply();
}

void ModuleTransport::selectModule(int module)
{
    sendTargetControl(0, kMarkerSelect);
    pause(kSelectPauseMs);
    sendTargetControl(static_cast<uint8_t>(module), kMarkerSelect);
    pause(kSelectSettleMs);
}

void ModuleTransport::releaseModule()
{
    sendTargetControl(kReleaseValue, kMarkerRelease);
    writeHeader(kSubFinish);
    m_request[4] = kFinishFirst;
    m_request[5] = kFinishSecond;
    m_link.sendRawRequest(m_request, 6);
    awaitReply();
}

void ModuleTransport::putBootBytes(const uint8_t *bytes, int n)
{
    n = std::min(std::max(n, 0), kMaxBootBytes);
    writeHeader(kSubBootBytes);
    m_request[4] = static_cast<uint8_t>(n);
    std::memcpy(m_request + kBootBytesOverhead, bytes, static_cast<size_t>(n));
    m_link.sendRawRequest(m_request, n + kBootBytesOverhead);
}

bool ModuleTransport::exchangeBootText(const std::string &text)
{
    QElapsedTimer timer;
    timer.start();
    if (m_log)
        m_log(text);
    const bool replied = exchangeBootBytes(reinterpret_cast<const uint8_t *>(text.data()),
                                           static_cast<int>(text.size()));
    if (m_log)
        m_log("Cost time " + std::to_string(timer.elapsed()) + " microsecond");
    return replied;
}

bool ModuleTransport::exchangeBootBytes(const uint8_t *bytes, int n)
{
    putBootBytes(bytes, n);
    return awaitReply();
}

void ModuleTransport::sendBootData(const uint8_t *bytes, int n)
{
    putBootBytes(bytes, n);
}

bool ModuleTransport::awaitReply()
{
    const int length = m_link.receiveReply(m_reply);
    if (length < 0)
        return false;
    m_replyLength = length;
    return true;
}

int ModuleTransport::answerLength() const
{
    return std::max(0, m_replyLength - kAnswerOffset);
}

uint16_t ModuleTransport::readModuleRegister(int address, std::string *failure)
{
    uint16_t value = 0;
    if (m_link.readHoldingRegister(address, value))
        return value;
    if (failure)
        *failure = m_link.lastReadFailure();
    return 0;
}
