#include "platform/com_port_table.h"

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>
#include <strings.h>
#include <sys/stat.h>

namespace {

const char *linkDirectory()
{
    const char *directory = std::getenv(ComPortTable::directoryVariable);
    return directory && *directory ? directory : nullptr;
}

bool exists(const std::string &path)
{
    struct stat info{};
    return ::stat(path.c_str(), &info) == 0;
}

// The suffix number of `name` after `prefix` ("ttyUSB3" → 3), or -1.
int suffixNumber(const std::string &name, const std::string &prefix)
{
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 4
        || name.compare(0, prefix.size(), prefix) != 0)
        return -1;
    int number = 0;
    for (size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return -1;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

// The kernel lists a ttyS device for every possible 8250 port; only those with a UART found
// behind them (a non-zero type) are ports.
bool hasUart(const std::string &ttyName)
{
    std::ifstream type("/sys/class/tty/" + ttyName + "/type");
    int uartType = 0;
    return type >> uartType && uartType != 0;
}

bool listDirectory(const char *path, std::vector<std::string> &names)
{
    DIR *directory = ::opendir(path);
    if (!directory)
        return false;
    while (const dirent *entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(directory);
    return true;
}

}

int ComPortTable::comNumberOfDevice(const std::string &name)
{
    int n = suffixNumber(name, "ttyS");
    if (n >= 0 && n < ComPortTable::firstUsbSerialPort - 1)
        return hasUart(name) ? n + 1 : -1;
    n = suffixNumber(name, "ttyUSB");
    if (n >= 0 && n < ComPortTable::firstUsbModemPort - ComPortTable::firstUsbSerialPort)
        return ComPortTable::firstUsbSerialPort + n;
    n = suffixNumber(name, "ttyACM");
    if (n >= 0)
        return ComPortTable::firstUsbModemPort + n;
    return -1;
}

bool ComPortTable::listDeviceNames(std::vector<std::string> &names)
{
    names.clear();
    if (const char *directory = linkDirectory())
        return listDirectory(directory, names);
    std::vector<std::string> devices;
    if (!listDirectory("/dev", devices))
        return false;
    for (const std::string &device : devices) {
        const int number = comNumberOfDevice(device);
        if (number > 0)
            names.push_back("COM" + std::to_string(number));
    }
    return true;
}

std::string ComPortTable::devicePath(int number)
{
    if (number <= 0)
        return std::string();
    if (const char *directory = linkDirectory()) {
        // The listing takes "com7" as port 7 as well, so the name is matched without case.
        const std::string wanted = "COM" + std::to_string(number);
        std::vector<std::string> names;
        listDirectory(directory, names);
        for (const std::string &name : names) {
            if (::strcasecmp(name.c_str(), wanted.c_str()) == 0)
                return std::string(directory) + "/" + name;
        }
        return std::string();
    }
    std::string name;
    if (number < firstUsbSerialPort)
        name = "ttyS" + std::to_string(number - 1);
    else if (number < firstUsbModemPort)
        name = "ttyUSB" + std::to_string(number - firstUsbSerialPort);
    else
        name = "ttyACM" + std::to_string(number - firstUsbModemPort);
    if (comNumberOfDevice(name) != number || !exists("/dev/" + name))
        return std::string();
    return "/dev/" + name;
}
