#pragma once

#include "core/update_environment.h"

#include <QString>

// One device the command line updates: its kind, where it is reached and the firmware for it.
enum class DeviceKind { Coupler, Module, Canopen, Ethercat };

struct DeviceJob {
    // The system chooses the listen port, so a page that keeps its own (23456) after an update
    // and the command line can run side by side.
    static constexpr int kDefaultListenPort = 0;
    static constexpr int kDefaultNode = 1;
    // The EtherCAT coupler updated is the first slave on the adapter.
    static constexpr int kEthercatSlave = 1;

    DeviceKind kind = DeviceKind::Coupler;
    QString firmwareFile;
    // Ethernet coupler, and the coupler the modules sit behind.
    QString ip;
    int listenPort = kDefaultListenPort;
    int firstModule = 1;
    int lastModule = 1;
    bool advanceMode = false;
    // CANopen coupler: "COM<n>" or a device path.
    QString serialPort;
    int node = kDefaultNode;
    // EtherCAT coupler.
    QString adapter;
    // Where the job came from: the plan line, 0 for a single command.
    int planLine = 0;
    // The waits and the Modbus port the job's engine is built with.
    UpdateEnvironment environment;

    // "coupler 192.168.1.10", "modules 1-4 behind 192.168.1.10", "CANopen node 5 on COM3",
    // "EtherCAT coupler on eth1".
    QString target() const;
    // The one thing two jobs must not use at once: the Ethernet coupler (its modules go through
    // it too), the serial port, the network adapter.
    QString resource() const;
    bool usesEthernet() const { return kind == DeviceKind::Coupler || kind == DeviceKind::Module; }
    static QString kindName(DeviceKind kind);
};
