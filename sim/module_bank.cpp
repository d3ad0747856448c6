#include "sim/module_bank.h"

#include <algorithm>

namespace {

constexpr uint8_t kFunctionCode = 109;
constexpr uint8_t kExceptionFlag = 0x80;
constexpr uint8_t kIllegalDataValue = 3;
constexpr uint8_t kSubTargetControl = 1;
constexpr uint8_t kSubBootBytes = 2;
constexpr uint8_t kSubFinish = 3;
constexpr uint8_t kMarkerSelect = 0xAA;
constexpr uint8_t kMarkerRelease = 0x55;
constexpr int kInformationBlockBase = 29900;
constexpr int kInformationBlockStride = 100;
constexpr size_t kLargestAnswer = 249;   // reply PDU of 253 bytes

ExtensionReply exception()
{
    ExtensionReply refused;
    refused.pdu = {static_cast<uint8_t>(kFunctionCode | kExceptionFlag), kIllegalDataValue};
    return refused;
}

ExtensionReply silence()
{
    ExtensionReply none;
    none.send = false;
    return none;
}

}

ModuleBank::ModuleBank(int moduleCount)
    : m_moduleCount(std::clamp(moduleCount, 0, kMaxModules)), m_modules(kMaxModules)
{
    for (Module &module : m_modules)
        module.bootLoader = std::make_unique<SimulatedBootLoader>(false);
}

void ModuleBank::setModule(int module, const ModuleSetup &setup)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Module &target = m_modules.at(static_cast<size_t>(module - 1));
    const ModuleFaults faults = target.bootLoader->faults;
    target.setup = setup;
    target.bootLoader = std::make_unique<SimulatedBootLoader>(setup.largeFlash);
    target.bootLoader->faults = faults;
}

void ModuleBank::setFaults(int module, const ModuleFaults &faults)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_modules.at(static_cast<size_t>(module - 1)).bootLoader->faults = faults;
}

void ModuleBank::setFlash(int module, const std::vector<uint8_t> &content)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_modules.at(static_cast<size_t>(module - 1)).bootLoader->setFlash(content);
}

void ModuleBank::setReplySplit(int afterBytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_replySplit = afterBytes;
}

std::vector<uint8_t> ModuleBank::flash(int module) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_modules.at(static_cast<size_t>(module - 1)).bootLoader->flash();
}

int ModuleBank::startCount(int module) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_modules.at(static_cast<size_t>(module - 1)).bootLoader->startCount();
}

std::vector<std::string> ModuleBank::commands(int module) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_modules.at(static_cast<size_t>(module - 1)).bootLoader->commands();
}

std::vector<ModuleBank::LoggedRequest> ModuleBank::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

std::vector<int> ModuleBank::registerReads() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_registerReads;
}

int ModuleBank::selectedModule() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_selected;
}

void ModuleBank::clearLogs()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
    m_registerReads.clear();
}

bool ModuleBank::readHoldingRegister(int address, uint16_t &value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_registerReads.push_back(address);
    const int module = (address - kInformationBlockBase) / kInformationBlockStride;
    const int offset = address - kInformationBlockBase - kInformationBlockStride * module;
    if (address < kInformationBlockBase + kInformationBlockStride || !present(module) || offset > 1)
        return false;
    const ModuleSetup &setup = m_modules[static_cast<size_t>(module - 1)].setup;
    value = offset == 0 ? setup.productCode : setup.hardwareVersion;
    return true;
}

ExtensionReply ModuleBank::reply(std::vector<uint8_t> pdu, const ModuleFaults &faults) const
{
    ExtensionReply answer;
    answer.pdu = std::move(pdu);
    answer.delayMs = faults.replyDelayMs;
    answer.againAfterMs = faults.answerAgainAfterMs;
    answer.splitAfterBytes = m_replySplit;
    return answer;
}

ExtensionReply ModuleBank::handleUserFunction(const std::vector<uint8_t> &requestPdu)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back({requestPdu, std::chrono::steady_clock::now()});
    if (requestPdu.size() < 4 || requestPdu[0] != kFunctionCode || requestPdu[1] != 0)
        return exception();
    switch (requestPdu[2]) {
    case kSubTargetControl:
        return targetControl(requestPdu);
    case kSubBootBytes:
        return bootBytes(requestPdu);
    case kSubFinish:
        if (requestPdu.size() != 5)
            return exception();
        return reply(requestPdu);
    default:
        return exception();
    }
}

// (0, 0xAA) clears the selection, (m, 0xAA) selects module m and restarts its boot loader,
// (1, 0x55) releases the selected module.
ExtensionReply ModuleBank::targetControl(const std::vector<uint8_t> &pdu)
{
    if (pdu.size() != 5)
        return exception();
    const int value = pdu[3];
    if (pdu[4] == kMarkerRelease) {
        m_selected = 0;
    } else if (pdu[4] == kMarkerSelect) {
        m_selected = present(value) ? value : 0;
        if (m_selected)
            m_modules[static_cast<size_t>(m_selected - 1)].bootLoader->enterBootLoader();
    } else {
        return exception();
    }
    return reply(pdu);
}

ExtensionReply ModuleBank::bootBytes(const std::vector<uint8_t> &pdu)
{
    if (pdu.size() < 4 || pdu[3] != pdu.size() - 4)
        return exception();
    if (!m_selected)
        return silence();
    SimulatedBootLoader &bootLoader = *m_modules[static_cast<size_t>(m_selected - 1)].bootLoader;
    const std::optional<std::string> answer = bootLoader.receive(pdu.data() + 4, pdu.size() - 4);
    if (!answer)
        return silence();
    const size_t length = std::min(answer->size(), kLargestAnswer);
    std::vector<uint8_t> replyPdu = {kFunctionCode, 0, kSubBootBytes, static_cast<uint8_t>(length)};
    replyPdu.insert(replyPdu.end(), answer->begin(), answer->begin() + static_cast<long>(length));
    return reply(std::move(replyPdu), bootLoader.faults);
}
