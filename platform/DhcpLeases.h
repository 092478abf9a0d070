// Whether an interface got its address from a DHCP server, and from which, as the lease files
// of the Linux DHCP clients record it: systemd-networkd, NetworkManager (internal client or
// dhclient) and dhclient of ifupdown.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/NetInterfaces.h"

namespace lumidex::platform {

struct DhcpLease {
    std::uint32_t address = 0;  // network byte order; 0 when the lease does not say
    std::uint32_t server = 0;   // network byte order, never 0 in a returned lease
};

// KEY=VALUE lines (systemd-networkd, NetworkManager's internal client): ADDRESS= and
// SERVER_ADDRESS=. nullopt without a server address.
std::optional<DhcpLease> ParseKeyValueLease(std::string_view text);

// dhclient's lease file: blocks "lease { ... }" of statements ending in ";", of which
// `interface "NAME";`, `fixed-address A;` and `option dhcp-server-identifier A;` matter. The
// last block with a server for interfaceName wins (a block that names no interface counts for
// any). nullopt when there is none.
std::optional<DhcpLease> ParseDhclientLeases(std::string_view text, std::string_view interfaceName);

// The lease of one interface under root: <root>/run/systemd/netif/leases/<index>, then
// NetworkManager's <root>/var/lib/NetworkManager/*-<name>.lease, then dhclient's
// <root>/var/lib/dhcp/dhclient.<name>.leases and dhclient.leases. The files under /var
// outlive the leases they record, so one of them counts only when its address is one the
// interface has now.
std::optional<DhcpLease> FindDhcpLease(const std::filesystem::path& root, const NetInterface& nic);

}  // namespace lumidex::platform
