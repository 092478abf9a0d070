// The network interfaces as the connection-state stand-ins see them: name, flags (IFF_UP,
// IFF_RUNNING, IFF_LOOPBACK, IFF_POINTOPOINT of <net/if.h>) and whether an IPv4 address is
// assigned. The stand-ins take a list, so tests hand them fixtures instead of this machine's.
#pragma once

#include <string>
#include <vector>

namespace lumidex::platform {

struct NetInterface {
    std::string name;
    unsigned flags = 0;
    bool hasIPv4 = false;
};

// This machine's interfaces, one entry per interface, in interface-index order.
std::vector<NetInterface> ReadNetInterfaces();

}  // namespace lumidex::platform
