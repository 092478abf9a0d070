#include "platform/ConnectionStandIns.h"

#include <net/if.h>

#include <algorithm>

namespace lumidex::platform {
namespace {

bool Has(const NetInterface& interface, unsigned flag) {
    return (interface.flags & flag) != 0;
}

}  // namespace

std::vector<RasConnection> EnumRasConnections(std::span<const NetInterface> interfaces) {
    std::vector<RasConnection> out;
    for (const NetInterface& interface : interfaces) {
        if (Has(interface, IFF_POINTOPOINT) && Has(interface, IFF_UP)) {
            out.push_back(
                {interface.name, Has(interface, IFF_RUNNING) ? kRasConnected : kRasDialling});
        }
    }
    return out;
}

bool InternetConnectedState(std::span<const NetInterface> interfaces) {
    return std::any_of(interfaces.begin(), interfaces.end(), [](const NetInterface& interface) {
        return !Has(interface, IFF_LOOPBACK) && Has(interface, IFF_UP) &&
               Has(interface, IFF_RUNNING) && !interface.ipv4.empty();
    });
}

}  // namespace lumidex::platform
