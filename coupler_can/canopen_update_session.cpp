#include "coupler_can/canopen_update_session.h"

#include "coupler_can/canopen_update_engine.h"
#include "coupler_can/serial_open_failure.h"
#include "coupler_can/timeout_exception.h"

#include <memory>

namespace {

constexpr uint16_t kIdentityObject = 0x1018;
constexpr uint8_t kProductCodeSubIndex = 2;

}

CanopenUpdateSession::CanopenUpdateSession(const std::string &portName)
{
    try {
        m_connection.openByName(portName);
    } catch (const std::exception &failure) {
        m_openFailure = serialOpenFailure(QString::fromStdString(portName), failure);
    }
}

CanopenUpdateSession::~CanopenUpdateSession()
{
    m_connection.close();
}

std::optional<uint32_t> CanopenUpdateSession::productCode(int nodeId)
{
    uint32_t value = 0;
    m_connection.sendUploadRequest(uint8_t(nodeId), kIdentityObject, kProductCodeSubIndex);
    try {
        m_connection.readUploadResponse(kIdentityObject, kProductCodeSubIndex, &value);
    } catch (timeout_exception *timeout) {
        // Thrown as a new object; the catcher owns it.
        const std::unique_ptr<timeout_exception> owned(timeout);
        return std::nullopt;
    }
    if (!m_connection.lastReplyIsFor(kIdentityObject, kProductCodeSubIndex) || m_connection.lastReplyWasAbort())
        return std::nullopt;
    return value;
}

UpdateResult CanopenUpdateSession::update(int nodeId, const std::vector<uint8_t> &image, int imageLength,
                                          std::vector<uint8_t> &readBack, const UpdateTools &tools)
{
    CanopenUpdateEngine engine(m_connection, nodeId, tools);
    return engine.run(image, imageLength, readBack);
}
