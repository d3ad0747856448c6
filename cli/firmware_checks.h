#pragma once

// The firmware files of a run, loaded before anything is sent: a device whose file is missing or
// would not load is named before any device is touched.
#include "cli/device_job.h"
#include "cli/firmware_files.h"
#include "firmware/hex_image.h"

#include <QList>
#include <QString>
#include <QStringList>

// The HEX profile of a device kind's page, and the page whose texts its load failures use.
struct HexKind {
    const HexPageProfile &profile;
    const char *translationContext;
};
HexKind hexKindOf(DeviceKind kind);

// Why `job`'s firmware file would not go to its device (it does not load as its page's HEX
// file; for the EtherCAT coupler: missing, empty, too large, or a HEX file); empty when it would.
// A HEX file is loaded through `files`, which keeps it for the run.
QString firmwareProblem(const DeviceJob &job, FirmwareFiles &files);

// The problem of each job's file, "LINE: problem" with the job's plan line; each file is loaded
// once however many jobs name it.
QStringList firmwareProblems(const QList<DeviceJob> &jobs, const QString &planPath, FirmwareFiles &files);
