#pragma once

#include "ethercat/ethercat_datagram.h"

#include <functional>
#include <memory>
#include <string>

namespace Ethercat {

// Where the master's frames go: a raw network adapter, or a simulated segment in the same
// process. Counts what it carries so figures such as frames per mailbox message can be taken.
class Link
{
public:
    virtual ~Link() = default;
    virtual bool send(const Bytes &frame) = 0;
    // Waits up to `timeoutUs` for the next frame; false when none came.
    virtual bool receive(Bytes &frame, int timeoutUs) = 0;

    long framesSent = 0;
};

// Opens the adapter of that name; nothing when it cannot be opened (the reason is already on
// standard error).
using LinkOpener = std::function<std::unique_ptr<Link>(const std::string &adapter)>;
// Raw frames on the network adapter of that name, through the packet-capture library.
LinkOpener defaultLinkOpener();

}
