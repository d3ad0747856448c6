#pragma once

#include "sim/modbus_extension.h"
#include "sim/module_simulated_boot_loader.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// Up to 16 simulated I/O modules behind the simulated coupler: their information registers
// (29900 + 100 x m: product code, then hardware version) and the function-109 pass-through that
// selects one of them and relays its boot-loader bytes. Thread-safe: the coupler serves it from
// its own thread while a test inspects it.
class ModuleBank : public ModbusExtension
{
public:
    static constexpr int kMaxModules = 16;

    struct ModuleSetup {
        uint16_t productCode = 0xFFFF;
        uint16_t hardwareVersion = 0x1000;
        bool largeFlash = false;
    };

    struct LoggedRequest {
        std::vector<uint8_t> pdu;
        std::chrono::steady_clock::time_point received;
    };

    // Modules 1..moduleCount are present, standard variant, product code 0xFFFF, version 0x1000.
    explicit ModuleBank(int moduleCount = kMaxModules);

    int moduleCount() const { return m_moduleCount; }
    void setModule(int module, const ModuleSetup &setup);   // keeps the faults, erases flash
    void setFaults(int module, const ModuleFaults &faults);
    void setFlash(int module, const std::vector<uint8_t> &content);
    // Sends every framed reply in two TCP segments, split after this many bytes (0: whole).
    void setReplySplit(int afterBytes);

    std::vector<uint8_t> flash(int module) const;
    int startCount(int module) const;
    std::vector<std::string> commands(int module) const;     // command lines, without CR LF
    std::vector<LoggedRequest> requests() const;             // every function-109 PDU
    std::vector<int> registerReads() const;
    int selectedModule() const;
    void clearLogs();

    bool readHoldingRegister(int address, uint16_t &value) override;
    ExtensionReply handleUserFunction(const std::vector<uint8_t> &requestPdu) override;

private:
    struct Module {
        ModuleSetup setup;
        std::unique_ptr<SimulatedBootLoader> bootLoader;
    };

    bool present(int module) const { return module >= 1 && module <= m_moduleCount; }
    ExtensionReply targetControl(const std::vector<uint8_t> &pdu);
    ExtensionReply bootBytes(const std::vector<uint8_t> &pdu);
    ExtensionReply reply(std::vector<uint8_t> pdu, const ModuleFaults &faults = {}) const;

    mutable std::mutex m_mutex;
    int m_moduleCount;
    std::vector<Module> m_modules;   // index 0 is module 1
    int m_selected = 0;
    int m_replySplit = 0;
    std::vector<LoggedRequest> m_requests;
    std::vector<int> m_registerReads;
};
