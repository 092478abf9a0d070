#include "platform/AdaptersInfo.h"

#include <net/if.h>

#include <algorithm>

#include "platform/BoundedFile.h"
#include "platform/DefaultRoutes.h"
#include "platform/DhcpLeases.h"
#include "platform/HostLookup.h"
#include "platform/NetLimits.h"

namespace lumidex::platform {
namespace {

// IFF_RUNNING is the carrier: an unplugged cable leaves the interface up but not running.
bool IsConnected(const NetInterface& nic) {
    return (nic.flags & IFF_UP) != 0 && (nic.flags & IFF_RUNNING) != 0 && !nic.ipv4.empty();
}

AdapterRecord MakeRecord(const NetInterface& nic, const std::vector<DefaultRoute>& routes,
                         const std::filesystem::path& root) {
    AdapterRecord record;
    record.name = nic.name;
    record.index = nic.index;
    if (IsConnected(nic)) {
        for (std::uint32_t address : nic.ipv4) {
            record.addresses.push_back(DottedAddress(address));
        }
    } else {
        record.addresses.push_back(kDisconnectedAddress);
    }
    record.currentAddress = record.addresses.front();
    for (std::uint32_t gateway : GatewaysOf(routes, nic.name)) {
        record.gateways.push_back(DottedAddress(gateway));
    }
    if (const auto lease = FindDhcpLease(root, nic)) {
        record.dhcpEnabled = 1;
        record.dhcpServers.push_back(DottedAddress(lease->server));
    }
    return record;
}

}  // namespace

std::vector<AdapterRecord> GetAdaptersInfo(const AdaptersSource& source) {
    std::vector<NetInterface> interfaces =
        source.interfaces ? source.interfaces() : ListNetInterfaces();
    std::stable_sort(
        interfaces.begin(), interfaces.end(),
        [](const NetInterface& a, const NetInterface& b) { return a.index < b.index; });
    const auto routeTable = ReadBoundedFile(source.root / "proc/net/route", kMaxRouteFileBytes);
    const std::vector<DefaultRoute> routes =
        routeTable ? ParseDefaultRoutes(*routeTable) : std::vector<DefaultRoute>{};
    std::vector<AdapterRecord> adapters;
    for (const NetInterface& nic : interfaces) {
        if ((nic.flags & IFF_LOOPBACK) == 0) {
            adapters.push_back(MakeRecord(nic, routes, source.root));
        }
    }
    return adapters;
}

AdapterRoute FirstRoutedAdapter() {
    for (const AdapterRecord& adapter : GetAdaptersInfo()) {
        if (adapter.currentAddress.empty() || adapter.currentAddress == kDisconnectedAddress) {
            continue;
        }
        for (const std::string& gateway : adapter.gateways) {
            if (!gateway.empty() && gateway != kDisconnectedAddress) {
                return {adapter.currentAddress, gateway};
            }
        }
    }
    return {};
}

}  // namespace lumidex::platform
