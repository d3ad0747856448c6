#include "coupler_can/usb_pass_through_canopen_comm.h"

#include "coupler_can/pass_through_frame.h"
#include "coupler_can/sdo_messages.h"
#include "coupler_can/timeout_exception.h"
#include "core/byte_order.h"
#include "platform/com_port_table.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QRegularExpression>

#include <algorithm>
#include <stdexcept>

namespace {

std::string lockedPortText()
{
    return QCoreApplication::translate("USBPassThroughCANopenCOMM", "Does there has other application lock the COM port?")
        .toStdString();
}

void logReply(const uint8_t *reply)
{
    QDebug line = qDebug();
    line << Qt::hex;
    for (size_t i = 0; i < PassThroughFrame::sdoRecordSize; ++i)
        line << static_cast<unsigned>(reply[i]) << " ";
}

}

void USBPassThroughCANopenCOMM::openPort(int portNumber)
{
    const std::string path = ComPortTable::devicePath(portNumber);
    if (path.empty())
        throw SerialOpenError(lockedPortText(),
                              "COM" + std::to_string(portNumber) + " is no longer among the serial ports.");
    openDevice(path);
}

void USBPassThroughCANopenCOMM::openDevice(const std::string &path)
{
    if (!m_port.open(path))
        throw SerialOpenError(lockedPortText(), m_port.openFailure());
    setReplyTimeoutMs(readTotalTimeoutMs);
    // The only purge of an update: a reply nobody reads later stays in the stream and is taken as
    // the next (a scan of the node IDs discards it, see discardReceived()).
    m_port.purge();
}

void USBPassThroughCANopenCOMM::openByName(const std::string &name)
{
    const QRegularExpressionMatch com =
        QRegularExpression(QStringLiteral("^COM(\\d+)$")).match(QString::fromStdString(name));
    if (com.hasMatch())
        openPort(com.captured(1).toInt());
    else
        openDevice(name);
}

bool USBPassThroughCANopenCOMM::lastReplyIsFor(uint16_t index, uint8_t subIndex) const
{
    return le16(&m_lastReply[SdoMessages::commandOffset + 1]) == index
        && m_lastReply[SdoMessages::commandOffset + 3] == subIndex;
}

bool USBPassThroughCANopenCOMM::lastReplyIsFromNode(uint8_t nodeId) const
{
    return PassThroughFrame::identifier(m_lastReply.data()) == PassThroughFrame::sdoReplyIdentifierBase + nodeId;
}

void USBPassThroughCANopenCOMM::setReplyTimeoutMs(int milliseconds)
{
    SerialPort::Timeouts timeouts;
    timeouts.readTotalTimeoutMs = milliseconds;
    m_port.setTimeouts(timeouts);
}

void USBPassThroughCANopenCOMM::discardReceived()
{
    m_port.purge();
}

void USBPassThroughCANopenCOMM::close()
{
    m_port.close();
}

bool USBPassThroughCANopenCOMM::send(const uint8_t *record, size_t count)
{
    return m_port.write(record, count) == count;
}

bool USBPassThroughCANopenCOMM::readFixed(uint8_t *buffer, size_t count, qint64 &lastCallMs)
{
    size_t received = 0;
    QElapsedTimer call;
    while (received < count) {
        call.restart();
        const size_t got = m_port.read(buffer + received, count - received);
        if (got == 0) {
            lastCallMs = call.elapsed();
            return false;
        }
        received += got;
    }
    return true;
}

bool USBPassThroughCANopenCOMM::readReply(uint8_t *reply, qint64 &lastCallMs)
{
    if (!readFixed(reply, PassThroughFrame::sdoRecordSize, lastCallMs))
        return false;
    std::copy(reply, reply + PassThroughFrame::sdoRecordSize, m_lastReply.begin());
    logReply(reply);
    return true;
}

bool USBPassThroughCANopenCOMM::sendDownloadRequest(uint8_t nodeId, uint16_t index,
                                                    uint8_t subIndex, const uint32_t *value)
{
    const auto record = SdoMessages::downloadRequest(nodeId, index, subIndex, *value);
    QDebug line = qDebug();
    line << "Download request Index:" << Qt::hex << index << " SubIndex:"
         << static_cast<unsigned>(subIndex);
    for (size_t i = SdoMessages::valueOffset; i < record.size(); ++i)
        line << static_cast<unsigned>(record[i]) << " ";
    return send(record.data(), record.size());
}

bool USBPassThroughCANopenCOMM::readDownloadResponse(uint16_t index, uint8_t subIndex,
                                                     uint32_t *result)
{
    uint8_t reply[PassThroughFrame::sdoRecordSize];
    qint64 lastCallMs = 0;
    if (!readReply(reply, lastCallMs)) {
        qDebug() << "SDO download response timeout: " << lastCallMs << " milli-second";
        throw new timeout_exception(SdoMessages::downloadTimeoutMessage(index, subIndex));
    }
    *result = SdoMessages::replyValue(reply);
    return true;
}

bool USBPassThroughCANopenCOMM::sendUploadRequest(uint8_t nodeId, uint16_t index,
                                                  uint8_t subIndex)
{
    const auto record = SdoMessages::uploadRequest(nodeId, index, subIndex);
    QDebug line = qDebug();
    line << "Upload request Index:" << Qt::hex << index << " SubIndex:"
         << static_cast<unsigned>(subIndex) << " Data:";
    for (uint8_t byte : record)
        line << static_cast<unsigned>(byte) << " ";
    return send(record.data(), record.size());
}

bool USBPassThroughCANopenCOMM::readUploadResponse(uint16_t index, uint8_t subIndex,
                                                   uint32_t *result)
{
    uint8_t reply[PassThroughFrame::sdoRecordSize];
    qint64 lastCallMs = 0;
    if (!readReply(reply, lastCallMs)) {
        qDebug() << "SDO upload response timeout: " << lastCallMs << " milli-second";
        throw new timeout_exception(SdoMessages::uploadTimeoutMessage(index, subIndex));
    }
    *result = SdoMessages::replyValue(reply);
    return true;
}

void USBPassThroughCANopenCOMM::receiveGuard()
{
    PassThroughFrame::GuardRecord guard{};
    qint64 lastCallMs = 0;
    if (!readFixed(guard.data(), guard.size(), lastCallMs)) {
        qDebug() << "Receive guard timeout: cost " << lastCallMs << " milli-second";
        throw new timeout_exception("Receive Guard");
    }
    qDebug() << "Receive guide";
    qDebug() << Qt::hex << static_cast<unsigned>(guard[PassThroughFrame::guardDataOffset]);
}
