#include "cli/device_scan.h"

#include "cli/device_info.h"
#include "modbus/modbus_tcp_link.h"

#include <QJsonArray>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>
#include <vector>

namespace {

// Connections opened at once. A burst of hundreds of connection attempts looks like an attack to
// a plant network's firewalls and fills small switches' tables; 32 keep a /24 of silent
// addresses to about 2.5 s and a silent /16 to about ten minutes.
constexpr int kConnectionsAtOnce = 32;
// A coupler on the local network accepts a connection within milliseconds; an address without a
// device would hold its attempt for the library's half second, or for the system's minutes where
// nothing answers at all.
constexpr int kConnectTimeoutMs = 300;

std::optional<QJsonObject> readCouplerAt(uint32_t address, const UpdateEnvironment &environment)
{
    DeviceJob target;
    target.ip = ipv4Text(address);
    target.environment = environment;
    const std::unique_ptr<ModbusTcpLink> link =
        ModbusTcpLink::connectWithin(target.ip.toStdString(), environment.modbusPort, kConnectTimeoutMs);
    if (!link)
        return std::nullopt;
    return readConnectedCouplerInfo(*link, target, false).json;
}

}

ScanFindings scanCouplers(const ScanRange &range, const QString &rangeText, const UpdateEnvironment &environment)
{
    const uint32_t count = range.size();
    std::vector<std::optional<QJsonObject>> answers(count);
    std::atomic<uint32_t> next{0};
    std::vector<std::thread> connections;
    for (uint32_t i = 0; i < std::min<uint32_t>(count, kConnectionsAtOnce); ++i)
        connections.emplace_back([&] {
            for (uint32_t index = next++; index < count; index = next++)
                answers[index] = readCouplerAt(range.first + index, environment);
        });
    for (std::thread &connection : connections)
        connection.join();
    ScanFindings findings;
    for (const std::optional<QJsonObject> &answer : answers)
        if (answer)
            findings.devices << *answer;
    findings.summary = QStringLiteral("%1 coupler(s) found in %2: %3 address(es) tried on port %4, %5 refused or did "
                                      "not answer")
                           .arg(findings.devices.size()).arg(rangeText).arg(count).arg(environment.modbusPort)
                           .arg(count - uint32_t(findings.devices.size()));
    return findings;
}
