#include "cli/device_scan.h"

#include "cli/device_info.h"
#include "coupler_can/timeout_exception.h"
#include "coupler_can/usb_pass_through_canopen_comm.h"

#include <memory>

namespace {

constexpr int kFirstNode = 1;
constexpr int kLastNode = 127;
constexpr uint16_t kIdentityObject = 0x1018;
constexpr uint8_t kVendorIdSubIndex = 1;
// A node answers an expedited upload within a few milliseconds of the request even behind the
// USB adapter's latency; a silent node costs the scan this wait, 127 of them about six seconds.
constexpr int kNodeReplyTimeoutMs = 50;

// Whether `node` answers an upload of the vendor-ID at all (an abort is an answer too).
bool nodeAnswers(USBPassThroughCANopenCOMM &connection, uint8_t node)
{
    connection.setReplyTimeoutMs(kNodeReplyTimeoutMs);
    connection.discardReceived();
    connection.sendUploadRequest(node, kIdentityObject, kVendorIdSubIndex);
    uint32_t value = 0;
    try {
        connection.readUploadResponse(kIdentityObject, kVendorIdSubIndex, &value);
    } catch (timeout_exception *timeout) {
        // Thrown as a new object; the catcher owns it.
        const std::unique_ptr<timeout_exception> owned(timeout);
        return false;
    }
    // A late reply of the node before, come after its wait: not this node's.
    return connection.lastReplyIsFromNode(node);
}

}

ScanFindings scanCanopenNodes(const QString &serialPort)
{
    ScanFindings findings;
    USBPassThroughCANopenCOMM connection;
    try {
        connection.openByName(serialPort.toStdString());
    } catch (const SerialOpenError &failure) {
        findings.failure = QStringLiteral("%1: %2 %3").arg(serialPort, failure.what(), QString::fromStdString(failure.detail()));
        return findings;
    }
    for (int node = kFirstNode; node <= kLastNode; ++node) {
        if (!nodeAnswers(connection, uint8_t(node)))
            continue;
        // A node that answered is read as info reads it, with the update's own wait.
        connection.setReplyTimeoutMs(USBPassThroughCANopenCOMM::readTotalTimeoutMs);
        DeviceJob target;
        target.serialPort = serialPort;
        target.node = node;
        findings.devices << readCanopenNodeInfo(connection, target).json;
    }
    connection.close();
    const int asked = kLastNode - kFirstNode + 1;
    findings.summary = QStringLiteral("%1 node(s) found on %2: node IDs %3 to %4 asked, %5 did not answer")
                           .arg(findings.devices.size()).arg(serialPort).arg(kFirstNode).arg(kLastNode)
                           .arg(asked - findings.devices.size());
    return findings;
}
