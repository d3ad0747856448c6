#include "cli/device_info.h"

#include "core/hex_text.h"
#include "coupler_eth/coupler_boot_exceptions.h"
#include "coupler_eth/coupler_compatibility.h"
#include "coupler_eth/coupler_listen_socket.h"
#include "coupler_eth/coupler_udp_link.h"
#include "modbus/modbus_tcp_link.h"
#include "module/module_transport.h"
#include "module/module_update_engine.h"

#include "platform/datagram_socket.h"

#include <QJsonArray>

namespace {

QString hex16(uint16_t value)
{
    return hexText(value, 4);
}

// One register's value, or why it could not be read.
QString registerText(int address, ModuleTransport &transport)
{
    std::string failure;
    const uint16_t value = transport.readModuleRegister(address, &failure);
    return failure.empty() ? hex16(value) : QStringLiteral("not read: ") + QString::fromStdString(failure);
}

void readModules(ModuleTransport &transport, const DeviceJob &target, bool rangeGiven, DeviceInfo &info)
{
    const int first = rangeGiven ? target.firstModule : ModuleRange::kLowestModule;
    const int last = rangeGiven ? target.lastModule : ModuleRange::kHighestModule;
    QJsonArray modules;
    for (int module = first; module <= last; ++module) {
        std::string failure;
        const int productRegister = ModuleTransport::productCodeRegister(module);
        const uint16_t productCode = transport.readModuleRegister(productRegister, &failure);
        if (!failure.empty()) {
            const QString why = QStringLiteral("register %1 not read: %2").arg(productRegister).arg(QString::fromStdString(failure));
            info.lines << QStringLiteral("module %1: %2").arg(module).arg(why);
            modules.append(QJsonObject{{"module", module}, {"failure", why}});
            if (!rangeGiven)
                break;   // the modules behind a coupler are numbered without gaps
            continue;
        }
        const QString hardware = registerText(ModuleTransport::hardwareVersionRegister(module), transport);
        info.lines << QStringLiteral("module %1: product code %2, hardware version %3").arg(module).arg(hex16(productCode), hardware);
        modules.append(QJsonObject{{"module", module}, {"productCode", hex16(productCode)}, {"hardwareVersion", hardware}});
    }
    info.json.insert("modules", modules);
}

// A coupler whose Modbus TCP server does not answer may sit in its boot loader (an update
// stopped half-way): asked at its boot port whether it is in boot mode, a question that changes
// nothing, it says so. Nothing when no valid answer came.
std::optional<bool> askBootMode(const std::string &ip)
{
    UpdateOutcome refusal;
    const std::unique_ptr<QUdpSocket> socket = bindCouplerListenPort(0, refusal);
    if (!socket)
        return std::nullopt;
    const int descriptor = int(socket->socketDescriptor());
    DatagramSocket::disableBroadcast(descriptor);
    CouplerUdpLink link(descriptor,
                        DatagramSocket::socketAddress(DatagramSocket::addressFromText(ip), CouplerBoot::kDevicePort),
                        socket->localPort());
    try {
        link.send(CouplerBootCommand::ConfirmBootMode,
                  CouplerBoot::encodeRequest(CouplerBootCommand::ConfirmBootMode, link.listenPort()));
    } catch (const SendFailedException &) {
        return std::nullopt;
    }
    uint8_t reply[CouplerBoot::kReceiveCapacity];
    const int length = link.receiveReply(reply);
    return CouplerBoot::parseConfirmReply(reply, length);
}

void tellBootMode(const std::string &ip, DeviceInfo &info)
{
    const std::optional<bool> inBootMode = askBootMode(ip);
    const QString port = QString::number(CouplerBoot::kDevicePort);
    if (!inBootMode)
        info.lines << QStringLiteral("boot port %1: no answer").arg(port);
    else if (*inBootMode)
        info.lines << QStringLiteral("boot port %1: the coupler is in its boot loader, its firmware erased or "
                                     "incomplete: run the update again").arg(port);
    else
        info.lines << QStringLiteral("boot port %1: the coupler answers, not in its boot loader").arg(port);
    info.json.insert("bootLoader", inBootMode ? QJsonValue(*inBootMode) : QJsonValue());
}

}

DeviceInfo readCouplerInfo(const DeviceJob &target, bool moduleRangeGiven)
{
    const std::string ip = target.ip.toStdString();
    const int port = target.environment.modbusPort;
    std::string failure;
    const std::unique_ptr<ModbusTcpLink> link = ModbusTcpLink::connect(ip, port, &failure);
    if (link)
        return readConnectedCouplerInfo(*link, target, moduleRangeGiven);
    DeviceInfo info;
    info.failure = QStringLiteral("Modbus TCP %1:%2: %3").arg(target.ip).arg(port).arg(QString::fromStdString(failure));
    info.lines << QStringLiteral("coupler %1").arg(target.ip);
    info.json.insert("coupler", target.ip);
    tellBootMode(ip, info);
    return info;
}

DeviceInfo readConnectedCouplerInfo(ModbusTcpLink &link, const DeviceJob &target, bool moduleRangeGiven)
{
    DeviceInfo info;
    // The coupler's own registers with the library's response time-out, then its modules'
    // information registers with the module engine's.
    ModuleTransport transport(link, target.environment.waits.blocking());
    const QString productCode = registerText(kCouplerProductCodeRegister, transport);
    const QString hardwareVersion = registerText(kCouplerHardwareVersionRegister, transport);
    info.lines << QStringLiteral("coupler %1").arg(target.ip)
               << QStringLiteral("product code (register %1): %2").arg(kCouplerProductCodeRegister).arg(productCode)
               << QStringLiteral("hardware version (register %1): %2").arg(kCouplerHardwareVersionRegister).arg(hardwareVersion);
    info.json = QJsonObject{{"coupler", target.ip}, {"productCode", productCode}, {"hardwareVersion", hardwareVersion}};
    transport.setResponseTimeout(0, ModuleUpdateEngine::kResponseTimeoutUs);
    readModules(transport, target, moduleRangeGiven, info);
    return info;
}
