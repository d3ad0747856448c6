#pragma once

// The pieces every device kind's update engine is built from, besides its link: where it tells
// how far it is, where it learns of Abort, how it waits and where its diagnostic lines go. The
// page and the command line each give their own; the engine never knows which.
#include "core/fixed_waits.h"

#include <atomic>
#include <functional>
#include <string>

// The stretches of a run a technician sees. The words for them are the surface's.
enum class UpdatePhase {
    Writing,           // the image goes to the device
    ReadingBack,       // the flash comes back for comparing
    Comparing,         // the read-back is compared with the image
    StartingFirmware,  // the device is told to run its new firmware
};

// Told what the run does; every call may be ignored.
class UpdateProgress
{
public:
    virtual ~UpdateProgress() = default;
    // The device fits the file, or its checks were skipped; nothing has reached its boot loader
    // yet. A kind whose devices are checked calls it before anything else.
    virtual void checksPassed() {}
    // A phase begins; on a range of modules, for the module given (0 elsewhere).
    virtual void phase(UpdatePhase, int /*module*/) {}
    // The progress of what follows counts from 0 to the maximum given.
    virtual void setMaximum(int /*maximum*/) {}
    // Also where a page's window-modal dialog processes events, and so notices Abort.
    virtual void setValue(int /*value*/) {}
};

// Where an engine asks whether it must stop, at the points where stopping is safe.
class CancelToken
{
public:
    virtual ~CancelToken() = default;
    virtual bool requested() = 0;
};

// A stop that another thread asks for.
class CancelFlag : public CancelToken
{
public:
    void request() { m_requested = true; }
    void clear() { m_requested = false; }
    bool requested() override { return m_requested; }

private:
    std::atomic<bool> m_requested{false};
};

// Timing and mode lines for the debug log.
using DiagnosticLog = std::function<void(const std::string &line)>;

// The caller keeps `progress` and `cancel` alive as long as the engine built from them.
struct UpdateTools {
    UpdateProgress &progress;
    CancelToken &cancel;
    Wait wait;
    DiagnosticLog log;   // may be empty: the lines go nowhere

    void logLine(const std::string &line) const
    {
        if (log)
            log(line);
    }
};
