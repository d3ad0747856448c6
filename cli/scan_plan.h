#pragma once

// A plan for the devices a scan found: a line for each device for which a firmware folder holds
// a fitting file, a comment line for each device without one. The lines are those
// `tarnlow-cli plan` reads (see plan_file.h).
#include "cli/device_job.h"
#include "cli/firmware_files.h"

#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QStringList>

#include <functional>
#include <optional>

// The firmware files of one folder and which of them fit a device.
class FirmwareFolder
{
public:
    // The folder's *.HEX files (any case of the extension), not its subfolders. A file that does
    // not load, or whose path holds a comma (a plan line could not carry it), is left out and
    // told to `note` once.
    FirmwareFolder(const QString &folder, std::function<void(const QString &)> note);

    // The folder, absolute, as the plan's comments name it.
    const QString &path() const { return m_folder; }
    // The files, absolute and sorted by name, whose header fits a device of `kind` that reads
    // `productCode` and, for the Ethernet coupler and its modules, `hardwareVersion`; compared as
    // the update compares them.
    QStringList fitting(DeviceKind kind, uint32_t productCode, std::optional<uint16_t> hardwareVersion);

private:
    bool usable(DeviceKind kind, const QString &file);

    QString m_folder;
    QStringList m_files;
    FirmwareFiles m_loaded;
    QSet<QString> m_leftOut;
    std::function<void(const QString &)> m_note;
};

struct ScanPlan {
    QStringList lines;     // the plan file, one entry a line, comments among them
    int deviceLines = 0;   // lines that update something
    int withoutFirmware = 0;   // devices (and modules) for which no file fits
};

// The plan for `devices` as a scan of `kind` found them (each as its findings hold it), after a
// first comment line `origin`. Of several fitting files the one whose name sorts last is taken
// (names usually end in the version), and a comment before its line names the others.
// EtherCAT firmware files carry no header, so nothing says which slave a file is for: each slave
// gets a comment line only.
ScanPlan planForFound(DeviceKind kind, const QList<QJsonObject> &devices, FirmwareFolder &firmware,
                      const QString &origin);
