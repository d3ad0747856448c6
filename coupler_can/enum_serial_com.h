#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

#include <string>
#include <vector>

namespace OsmerinCOMLib {

// The serial ports of the machine, as the CANopen page lists them.
class EnumSerialCOM
{
public:
    // One serial port; held as item data of the page's COM-port combo box.
    struct DATA {
        int port = 0;   // the number after "COM"
        QString name;   // left empty
    };

    // The port number of a device name "COM<digits>" (letters of "COM" in any case), or -1 for
    // every other name.
    static int portNumberOfDeviceName(const std::string &name);
    // The port numbers of the device names, in the order listed. False when the listing fails.
    static bool listPortNumbers(std::vector<int> &numbers);
};

// Every port, sorted by number; empty (after a line on standard output) when listing fails.
QList<EnumSerialCOM::DATA> CEnumerateSerial();

}

Q_DECLARE_METATYPE(OsmerinCOMLib::EnumSerialCOM::DATA)
