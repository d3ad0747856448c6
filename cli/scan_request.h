#pragma once

// What `tarnlow-cli scan` is asked to look for: one kind of device, where, and what to print.
#include "cli/device_job.h"
#include "cli/scan_range.h"

#include <QString>
#include <QStringList>

struct ScanRequest {
    DeviceKind kind = DeviceKind::Coupler;   // Coupler (with its modules), Canopen or Ethercat
    ScanRange range;                         // coupler: the addresses tried
    QString rangeText;                       // as given, for the plan's first line
    QString serialPort;                      // canopen
    QString adapter;                         // ethercat
    bool json = false;
    QString planOut;       // the plan file to write; empty: none
    QString firmwareDir;   // the folder whose firmware files the plan takes
};

// The kind and range from the positional arguments (KIND [RANGE]), checked with the options
// already in `request`; why the scan cannot run, empty when it can.
QString readScanTarget(const QStringList &positional, ScanRequest &request);
