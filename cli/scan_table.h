#pragma once

// The devices a scan found as a table for a person: one row a device, columns aligned.
#include "cli/device_job.h"

#include <QJsonObject>
#include <QList>
#include <QStringList>

// A header row and a row per device of `kind` (Coupler, Canopen or Ethercat), each device as the
// scan's findings hold it. Columns are two spaces apart; the last is not padded.
QStringList scanTable(DeviceKind kind, const QList<QJsonObject> &devices);

// "127.0.3.1", "/dev/ttyACM0 node 5", "eth1 slave 1": where a found device is, as the table's
// first column and the plan's comments name it.
QString foundDeviceName(const QJsonObject &device);
