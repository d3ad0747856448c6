#pragma once

#include <atomic>
#include <cstdint>

// Set by the page when the user aborts; the FoE write stops after the data segment it is on.
extern std::atomic<bool> foeAbortRequested;

// Results of foeWriteAbortable besides the positive working counter of success and the 0 or
// negative value of a failed mailbox send or receive.
constexpr int foeUnexpectedReply = -3;
constexpr int foeErrorReply = -5;
constexpr int foeWrongPacketAcknowledged = -7;
constexpr int foeFileNotFoundReply = -10;
// The boot loader stayed busy through every resend of the same message.
constexpr int foeStillBusy = -11;

// The boot loader answers "busy" while it cannot take the message yet (for example while it
// erases flash): the same message goes again after a pause, a bounded number of times.
constexpr int foeBusyPauseMs = 20;
constexpr int foeBusyResendLimit = 100;

// Writes `size` bytes from `data` under `fileName` to the slave's boot loader by FoE through
// the default master. Returns the last working counter (> 0) on success. The error code of an
// FoE error reply goes to `errorCode` when given.
int foeWriteAbortable(uint16_t slave, const char *fileName, uint32_t password, int size,
                      const uint8_t *data, int timeoutUs, uint32_t *errorCode = nullptr);
