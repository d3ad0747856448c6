#include "coupler_can/enum_serial_com.h"

#include "platform/com_port_table.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>

namespace OsmerinCOMLib {

int EnumSerialCOM::portNumberOfDeviceName(const std::string &name)
{
    if (name.size() < 4)
        return -1;
    for (size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i])
            return -1;
    }
    long long number = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return -1;
        number = number * 10 + (name[i] - '0');
        // A number beyond int is no port that could be opened.
        if (number > INT_MAX)
            return -1;
    }
    return static_cast<int>(number);
}

bool EnumSerialCOM::listPortNumbers(std::vector<int> &numbers)
{
    numbers.clear();
    std::vector<std::string> names;
    if (!ComPortTable::listDeviceNames(names))
        return false;
    for (const std::string &name : names) {
        const int number = portNumberOfDeviceName(name);
        if (number >= 0)
            numbers.push_back(number);
    }
    return true;
}

QList<EnumSerialCOM::DATA> CEnumerateSerial()
{
    std::vector<int> numbers;
    const int savedErrno = errno;
    errno = 0;
    if (!EnumSerialCOM::listPortNumbers(numbers)) {
        std::printf("CEnumerateSerial::UsingSetupAPI1 failed, Error:%u\n",
                    static_cast<unsigned>(errno));
        std::fflush(stdout);
        errno = savedErrno;
        return {};
    }
    errno = savedErrno;
    std::sort(numbers.begin(), numbers.end());
    QList<EnumSerialCOM::DATA> ports;
    for (int number : numbers)
        ports.append(EnumSerialCOM::DATA{number, QString()});
    return ports;
}

}
