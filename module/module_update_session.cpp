#include "module/module_update_session.h"

#include "module/module_update_engine.h"

ModuleUpdateSession::ModuleUpdateSession(const std::string &ip, int port)
    : m_ip(ip), m_port(port), m_link(ModbusTcpLink::connect(ip, port, &m_failure))
{
}

std::optional<UpdateResult> ModuleUpdateSession::connectionFailure() const
{
    if (m_link)
        return std::nullopt;
    UpdateResult result = UpdateResult::ended(UpdateResult::Kind::Failed, UpdateResult::Cause::ConnectionFailed);
    result.address = m_ip;
    result.port = m_port;
    result.detail = m_failure;
    result.deviceAfter = UpdateResult::DeviceAfter::Untouched;
    return result;
}

UpdateResult ModuleUpdateSession::update(int first, int last, bool advanceMode, const HexImage &firmware,
                                         const UpdateTools &tools)
{
    ModuleUpdateEngine engine({*m_link, first, last, advanceMode}, tools);
    return engine.run(firmware);
}
