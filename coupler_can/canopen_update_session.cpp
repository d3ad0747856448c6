#include "coupler_can/canopen_update_session.h"

#include "coupler_can/canopen_update_engine.h"
#include "coupler_can/serial_open_failure.h"

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

UpdateResult CanopenUpdateSession::update(int nodeId, const std::vector<uint8_t> &image, int imageLength,
                                          std::vector<uint8_t> &readBack, const UpdateTools &tools)
{
    CanopenUpdateEngine engine(m_connection, nodeId, tools);
    return engine.run(image, imageLength, readBack);
}
