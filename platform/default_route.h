#pragma once

// Which network interfaces carry a default route: the way to everything that is not on a local
// segment, and so, on a technician's PC, the plant or office network.
#include <set>
#include <string>

// From the kernel's routing tables (/proc/net/route and /proc/net/ipv6_route); empty where
// they cannot be read.
std::set<std::string> defaultRouteInterfaces();

// The same from the tables' text: IPv4 rows with destination and mask 0, IPv6 rows with
// destination ::/0 that are up and not a reject route.
std::set<std::string> defaultRouteInterfacesIn(const std::string &ipv4Table, const std::string &ipv6Table);
