#pragma once

// The fixed waits of the update procedures (1.5 s before an update starts, 5 s after a mode
// change, the 1 s module select pause, ...) give the devices time they need; the product always
// waits the full time. Tests may shorten every one of them at once through the single hook
// setFixedWaitDivisorForTests; nothing else changes them.
namespace FixedWait {

// The wait to use for a specified wait of `milliseconds`.
int effectiveMilliseconds(int milliseconds);

// Waits in a local event loop, so the GUI stays alive.
void inLocalEventLoop(int milliseconds);

// Blocks the calling thread.
void blocking(int milliseconds);

// Test hook: divide every fixed wait by `divisor` (1 restores the real waits).
void setFixedWaitDivisorForTests(int divisor);

}
