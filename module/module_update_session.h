#pragma once

// One module range update as the page and the command line both run it: the connection to the
// coupler's Modbus TCP server and the module engine on it.
#include "core/update_result.h"
#include "core/update_tools.h"
#include "modbus/modbus_tcp_link.h"

#include <memory>
#include <optional>
#include <string>

struct HexImage;

class ModuleUpdateSession
{
public:
    // Connects to the coupler at once; the connection closes with the session.
    ModuleUpdateSession(const std::string &ip, int port);

    // The run's end when the coupler's server could not be reached, with the reason.
    std::optional<UpdateResult> connectionFailure() const;

    // The checks and the run of modules `first` to `last` for the loaded file (advance mode skips
    // the checks). Only after a connection that succeeded.
    UpdateResult update(int first, int last, bool advanceMode, const HexImage &firmware,
                        const UpdateTools &tools);

private:
    std::string m_ip;
    int m_port;
    std::string m_failure;
    std::unique_ptr<ModbusTcpLink> m_link;
};
