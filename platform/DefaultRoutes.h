// The IPv4 default routes with a gateway, from the kernel's route table text
// (/proc/net/route).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumidex::platform {

struct DefaultRoute {
    std::string interfaceName;
    std::uint32_t gateway = 0;  // network byte order
    std::uint32_t metric = 0;
};

// /proc/net/route: a header line, then one line per route with the blank-separated fields
//   Iface Destination Gateway Flags RefCnt Use Metric Mask ...
// where Destination, Gateway, Flags and Mask are hexadecimal and the addresses are the
// kernel's in-memory network-order words printed as native integers (so the parsed value is
// the address as this machine stores it). A default route has Destination and Mask 0 and the
// flags up and gateway set. Lines that do not parse are skipped.
std::vector<DefaultRoute> ParseDefaultRoutes(std::string_view routeTable);

// The gateways of the default routes through interfaceName, lowest metric first (file order
// among equals), each once.
std::vector<std::uint32_t> GatewaysOf(const std::vector<DefaultRoute>& routes,
                                      std::string_view interfaceName);

}  // namespace lumidex::platform
