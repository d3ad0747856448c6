#include "cli/device_info.h"

#include "cli/hex_text.h"
#include "coupler_eth/coupler_compatibility.h"
#include "modbus/modbus_tcp_link.h"
#include "module/module_transport.h"
#include "module/module_update_engine.h"

namespace {

QString hex16(uint16_t value)
{
    return hexText(value, 4);
}

// One register as "name (register N): 0x...", or why it could not be read.
QString registerLine(const QString &name, int address, ModuleTransport &transport)
{
    std::string failure;
    const uint16_t value = transport.readModuleRegister(address, &failure);
    if (!failure.empty())
        return QStringLiteral("%1 (register %2): not read: %3").arg(name).arg(address).arg(QString::fromStdString(failure));
    return QStringLiteral("%1 (register %2): %3").arg(name).arg(address).arg(hex16(value));
}

void readModules(ModuleTransport &transport, const DeviceJob &target, bool rangeGiven, QStringList &lines)
{
    const int first = rangeGiven ? target.firstModule : ModuleRange::kLowestModule;
    const int last = rangeGiven ? target.lastModule : ModuleRange::kHighestModule;
    for (int module = first; module <= last; ++module) {
        std::string failure;
        const int productRegister = ModuleTransport::productCodeRegister(module);
        const uint16_t productCode = transport.readModuleRegister(productRegister, &failure);
        if (!failure.empty()) {
            lines << QStringLiteral("module %1: register %2 not read: %3")
                         .arg(module).arg(productRegister).arg(QString::fromStdString(failure));
            if (!rangeGiven)
                return;   // the modules behind a coupler are numbered without gaps
            continue;
        }
        const uint16_t hardware = transport.readModuleRegister(ModuleTransport::hardwareVersionRegister(module), &failure);
        lines << QStringLiteral("module %1: product code %2, hardware version %3")
                     .arg(module).arg(hex16(productCode), failure.empty() ? hex16(hardware)
                                                                          : QStringLiteral("not read: ") + QString::fromStdString(failure));
    }
}

}

DeviceInfo readCouplerInfo(const DeviceJob &target, bool moduleRangeGiven)
{
    DeviceInfo info;
    const std::string ip = target.ip.toStdString();
    const int port = target.environment.modbusPort;
    std::string failure;
    const std::unique_ptr<ModbusTcpLink> link = ModbusTcpLink::connect(ip, port, &failure);
    if (!link) {
        info.failure = QStringLiteral("Modbus TCP %1:%2: %3").arg(target.ip).arg(port).arg(QString::fromStdString(failure));
        return info;
    }
    // The coupler's own registers with the library's response time-out, then its modules'
    // information registers with the module engine's.
    ModuleTransport transport(*link, target.environment.waits.blocking());
    info.lines << QStringLiteral("coupler %1").arg(target.ip)
               << registerLine(QStringLiteral("product code"), kCouplerProductCodeRegister, transport)
               << registerLine(QStringLiteral("hardware version"), kCouplerHardwareVersionRegister, transport);
    transport.setResponseTimeout(0, ModuleUpdateEngine::kResponseTimeoutUs);
    readModules(transport, target, moduleRangeGiven, info.lines);
    return info;
}
