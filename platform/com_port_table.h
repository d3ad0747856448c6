#pragma once

#include <string>
#include <vector>

// The serial ports of this machine under the names "COM1", "COM2", ... that the updater pages
// show and store. See com_port_numbering.md for the numbering.
//
// When the environment variable TARNLOW_COM_DIR names a directory, the entries of that directory
// are the table: an entry called COM7 (normally a symbolic link to a device such as a
// pseudo-terminal) is port 7. Otherwise the table is built from the serial devices that exist:
// /dev/ttyS<n> with a UART behind it is COM<n+1>, /dev/ttyUSB<n> is COM<100+n> and
// /dev/ttyACM<n> is COM<200+n>.
namespace ComPortTable {

constexpr const char *directoryVariable = "TARNLOW_COM_DIR";
constexpr int firstUsbSerialPort = 100;  // /dev/ttyUSB0
constexpr int firstUsbModemPort = 200;   // /dev/ttyACM0

// Every device name of the table, unsorted and unfiltered (with TARNLOW_COM_DIR every entry of
// the directory, whether or not it looks like a port). False when the directory cannot be read.
bool listDeviceNames(std::vector<std::string> &names);

// The COM number of a device under /dev ("ttyUSB3" is 103), or -1 when it is not one of ours.
// A ttyS device counts only with a UART behind it.
int comNumberOfDevice(const std::string &name);

// The device path behind "COM<number>"; empty when the table has no such port.
std::string devicePath(int number);

}
