// The host's network adapters as the system's adapter-list query gives them on Windows, built
// from the Linux interfaces, the route table and the DHCP clients' lease files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/NetInterfaces.h"

namespace lumidex::platform {

// The address Windows reports for an adapter that is not connected.
inline constexpr char kDisconnectedAddress[] = "0.0.0.0";

struct AdapterRecord {
    std::string name;
    unsigned index = 0;
    std::uint32_t dhcpEnabled = 0;
    // Dotted texts. currentAddress is empty when the adapter has none.
    std::string currentAddress;
    std::vector<std::string> addresses;
    std::vector<std::string> gateways;
    std::vector<std::string> dhcpServers;
};

// Where the adapters come from; tests point root at a fixture tree (proc/net/route and the
// lease directories) and inject the interface list.
struct AdaptersSource {
    std::filesystem::path root = "/";
    // Empty: the kernel's list.
    std::function<std::vector<NetInterface>()> interfaces;
};

// One record per non-loopback interface, in interface-index order. An interface that is down
// or has no carrier, or has no IPv4 address, is reported as Windows reports a disconnected
// adapter: the single address 0.0.0.0. Otherwise the addresses are its IPv4 addresses and the
// current address is the first. Gateways: those of the IPv4 default routes through the
// interface, lowest metric first. DHCP: enabled with its server when a lease is found.
// Empty when there is no such interface.
std::vector<AdapterRecord> GetAdaptersInfo(const AdaptersSource& source = {});

// The adapter the network rows take for this computer's: the first with an address and a
// gateway. Both empty when there is none.
struct AdapterRoute {
    std::string localAddress;
    std::string gateway;
};
AdapterRoute FirstRoutedAdapter();

}  // namespace lumidex::platform
