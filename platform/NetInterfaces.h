// The host's network interfaces as the kernel lists them: the one source that the adapter
// list, the dial-up state and the connected state are built from, so tests can inject a list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumidex::platform {

struct NetInterface {
    std::string name;
    unsigned index = 0;
    unsigned flags = 0;  // IFF_UP, IFF_RUNNING, IFF_LOOPBACK, IFF_POINTOPOINT, ...
    // IPv4 addresses in network byte order, in the kernel's order.
    std::vector<std::uint32_t> ipv4;
};

// Every interface, loopback included, in interface-index order. Empty when the kernel cannot
// be asked.
std::vector<NetInterface> ListNetInterfaces();

}  // namespace lumidex::platform
