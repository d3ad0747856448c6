#pragma once

#include <functional>

// Blocks the caller for the given milliseconds of a specified wait.
using Wait = std::function<void(int milliseconds)>;

// The fixed waits of the update procedures (1.5 s before an update starts, 5 s after a mode
// change, the 1 s module select pause, ...) give the devices time they need. The product waits
// the full time; whoever builds an engine passes the waits in, and a test may pass waits that are
// all shortened by one divisor.
class FixedWaits
{
public:
    explicit FixedWaits(int divisor = 1) : m_divisor(divisor < 1 ? 1 : divisor) {}

    // How long a specified wait of `milliseconds` lasts here.
    int effective(int milliseconds) const { return milliseconds / m_divisor; }
    // Blocks the calling thread.
    void block(int milliseconds) const;
    // Waits in a local event loop, so the GUI stays alive.
    void inLocalEventLoop(int milliseconds) const;
    Wait blocking() const
    {
        return [waits = *this](int milliseconds) { waits.block(milliseconds); };
    }
    Wait eventLoop() const
    {
        return [waits = *this](int milliseconds) { waits.inLocalEventLoop(milliseconds); };
    }

private:
    int m_divisor;
};
