#include "cli/device_info.h"

#include "cli/adapter_warning.h"
#include "core/hex_text.h"
#include "ethercat/ethercat_master.h"
#include "ethercat/sii_identity.h"

#include <QJsonArray>

namespace {

using namespace Ethercat;

constexpr int kRegisterTimeoutUs = 20000;

// The SII is read with the EEPROM taken for the master; afterwards it goes back to whoever had it,
// so a slave's application that works with its EEPROM finds it as before.
SiiIdentity identityOf(Master &master, uint16_t position)
{
    uint8_t owner[2] = {};
    const uint16_t autoIncrement = uint16_t(1 - position);
    const bool ownerKnown = master.ec_APRD(autoIncrement, Register::eepromConfig, 2, owner, kRegisterTimeoutUs) > 0;
    const SiiIdentity identity = readSiiIdentity(master, position);
    if (ownerKnown)
        master.ec_APWR(autoIncrement, Register::eepromConfig, 2, owner, kRegisterTimeoutUs);
    return identity;
}

// One slave's facts, for the line and the JSON alike.
QJsonObject slaveFacts(Master &master, uint16_t position)
{
    const Slave &slave = master.ec_slave[position];
    const SiiIdentity identity = identityOf(master, position);
    return QJsonObject{{"position", position},
                       {"state", QString::fromStdString(alStateName(slave.state))},
                       {"alStatusCode", hexText(slave.alStatusCode, 4)},
                       {"vendor", hexText(identity.vendorId, 8)},
                       {"product", hexText(identity.productCode, 8)},
                       {"revision", hexText(identity.revision, 8)},
                       {"serial", hexText(identity.serialNumber, 8)},
                       {"name", QString::fromStdString(identity.name)}};
}

QString slaveLine(const QJsonObject &facts)
{
    return QStringLiteral("slave %1: %2, AL status code %3, vendor %4, product %5, revision %6, serial %7, \"%8\"")
        .arg(facts["position"].toInt())
        .arg(facts["state"].toString(), facts["alStatusCode"].toString(), facts["vendor"].toString(),
             facts["product"].toString(), facts["revision"].toString(), facts["serial"].toString(),
             facts["name"].toString());
}

}

DeviceInfo readEthercatInfo(const DeviceJob &target)
{
    DeviceInfo info;
    warnOfPlantAdapter(target.adapter);
    Master master;
    if (!master.ec_init(target.adapter.toLocal8Bit().constData())) {
        info.failure = QStringLiteral("the network adapter %1 could not be opened for raw EtherCAT frames")
                           .arg(target.adapter);
        return info;
    }
    const int slaves = master.ec_detect();
    info.lines << QStringLiteral("EtherCAT segment on %1: %2 slave(s)").arg(target.adapter).arg(slaves);
    QJsonArray slaveList;
    for (int position = 1; position <= slaves; ++position) {
        const QJsonObject facts = slaveFacts(master, uint16_t(position));
        info.lines << slaveLine(facts);
        slaveList.append(facts);
    }
    info.json = QJsonObject{{"adapter", target.adapter}, {"slaves", slaveList}};
    master.ec_close();
    return info;
}
