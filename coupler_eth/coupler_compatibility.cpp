#include "coupler_eth/coupler_compatibility.h"

#include "firmware/hardware_version.h"
#include "modbus/modbus_tcp_link.h"

#include <QCoreApplication>
#include <QDebug>

#include <memory>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("CouplerFirmwareWidget", text);
}

// One holding register; a failed read counts as 0 and leaves its reason in `failure`.
uint16_t readRegister(ModbusTcpLink &modbus, int address, std::string &failure)
{
    uint16_t value = 0;
    failure.clear();
    if (!modbus.readHoldingRegister(address, value)) {
        failure = modbus.lastReadFailure();
        return 0;
    }
    return value;
}

QString hex16(uint32_t value)
{
    return QString::asprintf("0x%04X", value);
}

// What the register said, for the box's informative text.
QString registerDetail(int address, uint16_t value, const std::string &readFailure, const QString &wanted)
{
    if (!readFailure.empty())
        return QStringLiteral("Register %1 could not be read: %2.").arg(address).arg(QString::fromStdString(readFailure));
    return QStringLiteral("Register %1 reads %2; %3.").arg(address).arg(hex16(value), wanted);
}

std::optional<UpdateOutcome> checkFirmwareVersion(ModbusTcpLink &modbus, const HexImage &hex)
{
    std::string failure;
    const int address = kCouplerHardwareVersionRegister;
    const uint16_t version = readRegister(modbus, address, failure);
    if (firmwareFitsHardware(hex.hardwareVersion, version))
        return std::nullopt;
    const QString wanted = QStringLiteral("the file is for hardware version %1 (%2)")
                               .arg(hex.hardwareVersion >> 12)
                               .arg(hex16(static_cast<uint32_t>(hex.hardwareVersion)));
    return UpdateOutcome::failed(UpdateOutcome::Icon::Critical, tr("Firmware matching error"),
                                 tr("Firmware does not match with the coupler"),
                                 registerDetail(address, version, failure, wanted));
}

std::optional<UpdateOutcome> checkProductCode(ModbusTcpLink &modbus, const HexImage &hex)
{
    std::string failure;
    const int address = kCouplerProductCodeRegister;
    const uint16_t code = readRegister(modbus, address, failure);
    if (code == hex.productCode)
        return std::nullopt;
    const QString wanted = QStringLiteral("the file is for product code %1").arg(hex16(hex.productCode));
    return UpdateOutcome::failed(UpdateOutcome::Icon::Critical, tr("Product Code matching error"),
                                 tr("Product Code does not match with the coupler"),
                                 registerDetail(address, code, failure, wanted));
}

}

std::optional<UpdateOutcome> checkCouplerCompatibility(const HexImage &hex, const std::string &ip, int modbusPort)
{
    std::string failure;
    const std::unique_ptr<ModbusTcpLink> modbus = ModbusTcpLink::connect(ip, modbusPort, &failure);
    if (!modbus) {
        qDebug().noquote() << QStringLiteral("Modbus %1:%2 not reached (%3); checks skipped")
                                  .arg(QString::fromStdString(ip))
                                  .arg(modbusPort)
                                  .arg(QString::fromStdString(failure));
        return std::nullopt;
    }
    if (auto refusal = checkFirmwareVersion(*modbus, hex))
        return refusal;
    return checkProductCode(*modbus, hex);
}
