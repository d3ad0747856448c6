#pragma once

#include <cstdint>
#include <string>

// The application-layer state machine as the master sees it: the states, the acknowledge bit of
// AL control, the error indication of AL status and the status codes the master acts on.
namespace Ethercat {

enum State : uint16_t { INIT = 1, PRE_OP = 2, BOOT = 3, SAFE_OP = 4, OP = 8 };
constexpr uint16_t stateMask = 0x0F;
// AL control: the master acknowledges the error indication along with the state it requests.
constexpr uint16_t alAcknowledge = 0x10;
// AL status: the slave refused a state change (or left its state on an error); the AL status
// code says why.
constexpr uint16_t alErrorIndication = 0x10;

constexpr uint16_t alStatusInvalidStateChange = 0x0011;
// BOOT refused: the sync managers do not describe the mailbox the boot loader works with.
constexpr uint16_t alStatusInvalidBootstrapMailbox = 0x0015;
constexpr uint16_t alStatusInvalidMailbox = 0x0016;

// "INIT", "PRE-OP", "BOOT", "SAFE-OP", "OP" (or "state n"), with " + ERROR" when the status shows
// the error indication.
std::string alStateName(uint16_t status);

}
