#include "ethercat/al_state.h"

namespace Ethercat {

std::string alStateName(uint16_t status)
{
    std::string name;
    switch (status & stateMask) {
    case INIT: name = "INIT"; break;
    case PRE_OP: name = "PRE-OP"; break;
    case BOOT: name = "BOOT"; break;
    case SAFE_OP: name = "SAFE-OP"; break;
    case OP: name = "OP"; break;
    default: name = "state " + std::to_string(status & stateMask);
    }
    if (status & alErrorIndication)
        name += " + ERROR";
    return name;
}

}
