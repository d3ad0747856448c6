#pragma once

#include "cli/device_record.h"

#include <QList>
#include <QString>

// The record of a run as JSON: per device the target, the firmware file and the SHA-256 of the
// image sent, the header values, start, end and the time of each phase, the outcome (verified,
// failed or aborted) and the exact message text. False with the reason when it cannot be written.
bool writeJsonReport(const QString &path, const QList<DeviceRecord> &records, int exitStatus, QString &failure);

QByteArray jsonReport(const QList<DeviceRecord> &records, int exitStatus);
