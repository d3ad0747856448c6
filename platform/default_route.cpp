#include "platform/default_route.h"

#include <fstream>
#include <sstream>

namespace {

constexpr unsigned long kRouteUp = 0x0001;
constexpr unsigned long kRouteReject = 0x0200;
const std::string kAllZeroIpv6(32, '0');

std::string fileText(const char *path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool isUsableRoute(const std::string &flagsHex)
{
    unsigned long flags = 0;
    std::istringstream(flagsHex) >> std::hex >> flags;
    return (flags & kRouteUp) && !(flags & kRouteReject);
}

// Iface Destination Gateway Flags RefCnt Use Metric Mask ..., after one heading line.
void addIpv4Defaults(const std::string &table, std::set<std::string> &interfaces)
{
    std::istringstream lines(table);
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string name, destination, gateway, flags, refCount, use, metric, mask;
        if (fields >> name >> destination >> gateway >> flags >> refCount >> use >> metric >> mask
            && destination == "00000000" && mask == "00000000" && isUsableRoute(flags))
            interfaces.insert(name);
    }
}

// Destination, prefix length, source, source prefix length, next hop, metric, reference count,
// use, flags, interface; no heading.
void addIpv6Defaults(const std::string &table, std::set<std::string> &interfaces)
{
    std::istringstream lines(table);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string destination, prefix, source, sourcePrefix, nextHop, metric, refCount, use, flags, name;
        if (fields >> destination >> prefix >> source >> sourcePrefix >> nextHop >> metric >> refCount >> use
                   >> flags >> name
            && destination == kAllZeroIpv6 && prefix == "00" && isUsableRoute(flags))
            interfaces.insert(name);
    }
}

}

std::set<std::string> defaultRouteInterfacesIn(const std::string &ipv4Table, const std::string &ipv6Table)
{
    std::set<std::string> interfaces;
    addIpv4Defaults(ipv4Table, interfaces);
    addIpv6Defaults(ipv6Table, interfaces);
    return interfaces;
}

std::set<std::string> defaultRouteInterfaces()
{
    return defaultRouteInterfacesIn(fileText("/proc/net/route"), fileText("/proc/net/ipv6_route"));
}
