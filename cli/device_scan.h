#pragma once

// The three scans of `tarnlow-cli scan`: each finds the devices of its kind that answer and reads
// each one as `tarnlow-cli info` reads it, changing nothing.
#include "cli/scan_range.h"
#include "core/update_environment.h"

#include <QJsonObject>
#include <QList>
#include <QString>

struct ScanFindings {
    QList<QJsonObject> devices;   // each as info's JSON has it, in address, node or position order
    QString summary;              // the closing line: what was tried, how many answered
    QString failure;              // why the scan could not run at all; empty when it ran
};

// Every address of `range` that accepts a Modbus TCP connection on the environment's Modbus
// port: the coupler's registers 3004 and 3006 and its modules' information registers.
ScanFindings scanCouplers(const ScanRange &range, const QString &rangeText, const UpdateEnvironment &environment);
// Node IDs 1 to 127 on the serial port: the nodes that answer for the identity object 0x1018.
ScanFindings scanCanopenNodes(const QString &serialPort);
// The slaves of the EtherCAT segment on the adapter, each with "adapter" added.
ScanFindings scanEthercatSlaves(const QString &adapter);
