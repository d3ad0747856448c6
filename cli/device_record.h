#pragma once

#include "core/update_outcome.h"
#include "core/update_result.h"
#include "cli/device_job.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

// The time one phase of a run took; a phase is what the page's progress label says.
struct PhaseTime {
    QString name;
    qint64 milliseconds = 0;
    QDateTime started;
    int module = 0;   // the module of a range the phase belongs to; 0 for the whole run
};

// What the report keeps of one device's run.
struct DeviceRecord {
    DeviceJob job;
    QString imageSha256;                  // of the image bytes sent; empty when none was loaded
    std::optional<quint32> productCode;   // header values of an encrypted HEX file
    std::optional<int> hardwareVersion;   // the version digit
    QDateTime started;
    QDateTime ended;
    QList<PhaseTime> phases;
    UpdateOutcome outcome;
    // Whether the device's flash was read back and compared. The EtherCAT coupler's boot loader
    // offers no read-back: its success is every FoE packet acknowledged.
    bool readBack = false;
    // The phase that ran when a stop (Ctrl-C) was first seen; empty when none was.
    QString stoppedIn;
    // What the device says of itself, where the run asked it: the CANopen coupler's identity
    // object, the EtherCAT slave's SII and the AL state it was left in.
    struct DeviceFacts {
        std::optional<quint32> productCode;
        QString name;
        QString alState;
        bool known() const { return productCode || !name.isEmpty() || !alState.isEmpty(); }
    } device;
    // Of a module range: what each module runs afterwards, from the first on, and the modules
    // the outcome concerns (those that did not fit, or the one the run ended at).
    std::vector<UpdateResult::DeviceAfter> rangeAfter;
    QList<int> outcomeModules;
    // Why the update history does not hold this run, or not all of it; empty when it does.
    QString historyNotKept;
};

// "verified", "failed" or "aborted", as the report and the outcome lines name an outcome; a
// success without read-back is "written".
QString outcomeName(const DeviceRecord &record);
