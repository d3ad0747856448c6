#include "coupler_eth/coupler_compatibility.h"

#include "firmware/hardware_version.h"
#include "modbus/modbus_tcp_link.h"

#include <memory>

namespace {

// One holding register; a failed read counts as 0 and leaves its reason in the result.
UpdateResult registerCheck(ModbusTcpLink &modbus, int address, UpdateResult::Cause cause, uint32_t fileValue)
{
    UpdateResult mismatch;
    mismatch.cause = cause;
    mismatch.registerAddress = address;
    mismatch.fileValue = fileValue;
    if (!modbus.readHoldingRegister(address, mismatch.registerValue)) {
        mismatch.registerValue = 0;
        mismatch.registerReadFailure = modbus.lastReadFailure();
    }
    return mismatch;
}

std::optional<UpdateResult> checkFirmwareVersion(ModbusTcpLink &modbus, const HexImage &hex)
{
    UpdateResult mismatch = registerCheck(modbus, kCouplerHardwareVersionRegister,
                                          UpdateResult::Cause::HardwareVersionMismatch, uint32_t(hex.hardwareVersion));
    if (firmwareFitsHardware(hex.hardwareVersion, mismatch.registerValue))
        return std::nullopt;
    return mismatch;
}

std::optional<UpdateResult> checkProductCode(ModbusTcpLink &modbus, const HexImage &hex)
{
    UpdateResult mismatch = registerCheck(modbus, kCouplerProductCodeRegister, UpdateResult::Cause::ProductCodeMismatch,
                                          hex.productCode);
    if (mismatch.registerValue == hex.productCode)
        return std::nullopt;
    return mismatch;
}

}

std::optional<UpdateResult> checkCouplerCompatibility(const HexImage &hex, const std::string &ip, int modbusPort,
                                                      const UpdateTools &tools)
{
    std::string failure;
    const std::unique_ptr<ModbusTcpLink> modbus = ModbusTcpLink::connect(ip, modbusPort, &failure);
    if (!modbus) {
        tools.logLine("Modbus " + ip + ":" + std::to_string(modbusPort) + " not reached (" + failure
                      + "); checks skipped");
        return std::nullopt;
    }
    if (auto refusal = checkFirmwareVersion(*modbus, hex))
        return refusal;
    return checkProductCode(*modbus, hex);
}
