#pragma once

#include <QString>

// Where one device's run tells how far it is, and learns that it must stop (Ctrl-C). Called
// from the thread that runs the device.
class DeviceProgress
{
public:
    virtual ~DeviceProgress() = default;
    virtual void phaseStarted(const QString &phase) = 0;
    virtual void bytesDone(qint64 done, qint64 total) = 0;
    // A fixed wait runs with this much of it left (0: it is over).
    virtual void waiting(qint64 millisecondsLeft) = 0;
    virtual bool stopRequested() const = 0;
};
