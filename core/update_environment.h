#pragma once

#include "core/fixed_waits.h"

#include <QString>

// What every update runs with besides the device and the file: how long the fixed waits last,
// the TCP port of the couplers' Modbus servers, the folder that holds the pages' firmware
// folders and the file the updates are recorded in. A default-constructed environment is the product's; a page or the command line that
// is given nothing else uses it.
struct UpdateEnvironment {
    static constexpr int kStandardModbusPort = 502;

    FixedWaits waits;
    int modbusPort = kStandardModbusPort;
    QString firmwareRoot;   // empty: the folder of the running executable
    QString historyFile;    // empty: the update history in the user's data folder
};
