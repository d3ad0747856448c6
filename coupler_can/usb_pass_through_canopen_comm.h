#pragma once

#include <stdexcept>
#include <string>

#include "coupler_can/canopen_comm.h"
#include "coupler_can/sdo_messages.h"
#include "platform/serial_port.h"

#include <cstddef>
#include <cstdint>

#include <QtGlobal>

// The COM port could not be opened: what() is the text the page shows, detail() the cause
// (missing device, permission, another program holding it).
class SerialOpenError : public std::runtime_error
{
public:
    SerialOpenError(const std::string &message, std::string detail)
        : std::runtime_error(message), m_detail(std::move(detail)) {}
    const std::string &detail() const { return m_detail; }

private:
    std::string m_detail;
};

// SDO transfers over the coupler's USB virtual COM port: each request is one 11-byte record
// written to the port; each reply is the next 11 bytes of the stream, whatever they hold.
class USBPassThroughCANopenCOMM : public CANopenCOMM
{
public:
    // One read call waits at most this long for the first byte.
    static constexpr int readTotalTimeoutMs = 4000;

    // Opens "COM<portNumber>" exclusively and purges both directions. Throws SerialOpenError
    // with "Does there has other application lock the COM port?" when it cannot.
    void openPort(int portNumber);
    // The same for a serial device given by its path.
    void openDevice(const std::string &path);
    // "COM<n>" through the port table, anything else as a device path.
    void openByName(const std::string &name);
    void close();

    bool sendDownloadRequest(uint8_t nodeId, uint16_t index, uint8_t subIndex,
                             const uint32_t *value) override;
    bool readDownloadResponse(uint16_t index, uint8_t subIndex, uint32_t *result) override;
    bool sendUploadRequest(uint8_t nodeId, uint16_t index, uint8_t subIndex) override;
    bool readUploadResponse(uint16_t index, uint8_t subIndex, uint32_t *result) override;
    void receiveGuard() override;

    // Whether the last reply read was an SDO abort (its value then the abort code).
    bool lastReplyWasAbort() const { return m_lastReply[SdoMessages::commandOffset] == SdoMessages::abortTransfer; }
    // Whether the last reply read names this object (a late reply to an earlier request does not).
    bool lastReplyIsFor(uint16_t index, uint8_t subIndex) const;
    // Whether the last reply read came from this node's SDO server (identifier 0x580 + node).
    bool lastReplyIsFromNode(uint8_t nodeId) const;

    // How long a read waits for the first byte of a reply (readTotalTimeoutMs after opening).
    // A scan of the node IDs asks each with a short wait, as a silent node costs it every time.
    void setReplyTimeoutMs(int milliseconds);
    // Drops what was received and not read: a reply that came after its wait had ended would
    // otherwise be taken for the reply to the next request.
    void discardReceived();

private:
    // Reads exactly `count` bytes, assembling pieces. False when one read call got nothing;
    // `lastCallMs` is then the time that empty call took.
    bool readFixed(uint8_t *buffer, size_t count, qint64 &lastCallMs);
    bool send(const uint8_t *record, size_t count);
    bool readReply(uint8_t *reply, qint64 &lastCallMs);

    SerialPort m_port;
    PassThroughFrame::SdoRecord m_lastReply{};
};
