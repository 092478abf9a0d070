// What the Windows dial-up and connected-state queries answer, read from a list of network
// interfaces. A dial-up connection on Linux is a point-to-point interface (ppp0, a tunnel):
// up and running, it is connected; up but not yet running, it is still dialling.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/NetInterfaces.h"

namespace lumidex::platform {

// The connection states of a dial-up connection that matter here.
inline constexpr std::uint32_t kRasConnected = 0x2000;  // RASCS_Connected
inline constexpr std::uint32_t kRasDialling = 1;        // RASCS_PortOpened: not connected yet

struct RasConnection {
    std::string name;
    std::uint32_t state = 0;
};

// The dial-up connections, in interface order: every point-to-point interface that is up.
std::vector<RasConnection> EnumRasConnections(std::span<const NetInterface> interfaces);

// True when some interface other than loopback is up and running with an IPv4 address.
bool InternetConnectedState(std::span<const NetInterface> interfaces);

}  // namespace lumidex::platform
