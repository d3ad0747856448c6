#pragma once

// `tarnlow-cli info`: what a device says about itself, read without writing anything that
// changes it (no boot request, no state change, no station address).
#include "cli/device_job.h"

#include <QJsonObject>
#include <QStringList>

class ModbusTcpLink;
class USBPassThroughCANopenCOMM;

struct DeviceInfo {
    QStringList lines;   // what was read, one fact a line
    QJsonObject json;    // the same facts for a program: values as read ("0x0702"), or why not
    QString failure;     // why the device could not be read; empty when it could
};

// The coupler's product code and hardware version registers, and the information registers of
// the modules behind it: the range given, or modules 1 to 16 up to the first that does not answer.
DeviceInfo readCouplerInfo(const DeviceJob &target, bool moduleRangeGiven);
// The slaves on the adapter: position, AL state and status code, SII identity and name.
DeviceInfo readEthercatInfo(const DeviceJob &target);
// The identity object 0x1018 and the mode signature (boot loader or user firmware).
DeviceInfo readCanopenInfo(const DeviceJob &target);

// What readCouplerInfo and readCanopenInfo read once the connection is made: a scan reads each
// device it finds with them, so that it reads what info reads.
DeviceInfo readConnectedCouplerInfo(ModbusTcpLink &link, const DeviceJob &target, bool moduleRangeGiven);
DeviceInfo readCanopenNodeInfo(USBPassThroughCANopenCOMM &connection, const DeviceJob &target);
