// The system look-ups and probes behind CTqGlobalMothed, each replaceable so that the check
// phases can be tested with faked answers. An empty function means the real one.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/IcmpEcho.h"
#include "probes/NetworkConfig.h"

namespace lumidex {

struct NetworkSeams {
    // Global parameters and adapter list of the embedded NetworkConfig.
    NetworkConfigSource config = SystemNetworkConfigSource();
    // gethostname.
    std::function<std::optional<std::string>()> hostName;
    // Name to IPv4 addresses, network byte order, in the resolver's order.
    std::function<std::vector<std::uint32_t>(std::string_view)> resolve;
    // The ICMP echo probe: one turn per request.
    std::function<std::vector<EchoTurn>(std::string_view host, unsigned count)> pingHost;
    // Seams of the other queries of CTqGlobalMothed go here.
};

}  // namespace lumidex
