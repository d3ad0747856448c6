#include "cli/device_info.h"

#include "core/hex_text.h"
#include "coupler_can/boot_loader_objects.h"
#include "coupler_can/timeout_exception.h"
#include "coupler_can/usb_pass_through_canopen_comm.h"

#include <memory>

namespace {

constexpr uint16_t kIdentityObject = 0x1018;

struct IdentityEntry {
    uint8_t subIndex;
    const char *name;
};
constexpr IdentityEntry kIdentityEntries[] = {
    {1, "vendor-ID"}, {2, "product code"}, {3, "revision number"}, {4, "serial number"}};

// One upload: the value, or the abort code, or a timeout (thrown as a new object, owned here).
QString uploadText(USBPassThroughCANopenCOMM &connection, uint8_t node, uint16_t index, uint8_t subIndex,
                   uint32_t &value)
{
    connection.sendUploadRequest(node, index, subIndex);
    try {
        connection.readUploadResponse(index, subIndex, &value);
    } catch (timeout_exception *timeout) {
        const std::unique_ptr<timeout_exception> owned(timeout);
        return QStringLiteral("no answer (%1)").arg(QString::fromLatin1(owned->what()));
    }
    if (!connection.lastReplyIsFor(index, subIndex))
        return QStringLiteral("a reply for another object");
    if (connection.lastReplyWasAbort())
        return QStringLiteral("SDO abort %1").arg(hexText(value, 8));
    return hexText(value, 8);
}

QString modeText(USBPassThroughCANopenCOMM &connection, uint8_t node)
{
    using namespace BootLoaderObjects;
    uint32_t signature = 0;
    const QString text = uploadText(connection, node, ModeSignatureObject, ModeSignatureSubIndex, signature);
    if (!text.startsWith(QLatin1String("0x")))
        return text;
    if (signature == BootLoaderSignature)
        return QStringLiteral("boot loader (%1)").arg(text);
    if (signature == UserFirmwareSignature)
        return QStringLiteral("user firmware (%1)").arg(text);
    return QStringLiteral("unknown (%1)").arg(text);
}

}

DeviceInfo readCanopenInfo(const DeviceJob &target)
{
    USBPassThroughCANopenCOMM connection;
    try {
        connection.openByName(target.serialPort.toStdString());
    } catch (const SerialOpenError &failure) {
        DeviceInfo info;
        info.failure = QStringLiteral("%1: %2 %3").arg(target.serialPort, failure.what(),
                                                         QString::fromStdString(failure.detail()));
        return info;
    }
    DeviceInfo info = readCanopenNodeInfo(connection, target);
    connection.close();
    return info;
}

DeviceInfo readCanopenNodeInfo(USBPassThroughCANopenCOMM &connection, const DeviceJob &target)
{
    DeviceInfo info;
    const uint8_t node = uint8_t(target.node);
    info.lines << QStringLiteral("CANopen node %1 on %2").arg(target.node).arg(target.serialPort);
    info.json = QJsonObject{{"node", target.node}, {"port", target.serialPort}};
    for (const IdentityEntry &entry : kIdentityEntries) {
        uint32_t value = 0;
        const QString text = uploadText(connection, node, kIdentityObject, entry.subIndex, value);
        // A node that does not answer at all would cost every further read its whole time-out.
        if (entry.subIndex == 1 && text.startsWith(QLatin1String("no answer"))) {
            info.failure = QStringLiteral("node %1 on %2: %3").arg(target.node).arg(target.serialPort, text);
            return info;
        }
        info.lines << QStringLiteral("%1 (0x1018 sub %2): %3").arg(QLatin1String(entry.name)).arg(entry.subIndex).arg(text);
        info.json.insert(QLatin1String(entry.name), text);
    }
    const QString running = modeText(connection, node);
    info.lines << QStringLiteral("running (0x5101): %1").arg(running);
    info.json.insert("running", running);
    return info;
}
