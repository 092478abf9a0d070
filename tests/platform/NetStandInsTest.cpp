// The Linux stand-ins for the network-parameters and adapter-list queries, driven by fixture
// trees (resolver files, route table, lease files) and injected interface lists.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/AdaptersInfo.h"
#include "platform/DefaultRoutes.h"
#include "platform/DhcpLeases.h"
#include "platform/NetworkParams.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace {

using namespace lumidex::platform;
using lumidex::testing::TempDir;
using Texts = std::vector<std::string>;

std::uint32_t Ip(const char* text) {
    return ::inet_addr(text);
}

void Put(const TempDir& root, const std::string& relative, const std::string& content) {
    const std::filesystem::path path = root.path() / relative;
    std::filesystem::create_directories(path.parent_path());
    lumidex::testing::WriteFile(path, content);
}

// One /proc/net/route line, printed as the kernel prints it on this machine.
std::string RouteLine(const char* nic, const char* destination, const char* gateway, unsigned flags,
                      unsigned metric, const char* mask) {
    char line[160];
    std::snprintf(line, sizeof line, "%s\t%08X\t%08X\t%04X\t0\t0\t%u\t%08X\t0\t0\t0\n", nic,
                  Ip(destination), Ip(gateway), flags, metric, Ip(mask));
    return line;
}
constexpr char kRouteHeader[] =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

TEST(ResolverConfig, DomainAndIpv4ServersAsTheResolverReadsThem) {
    struct Row {
        const char* text;
        const char* domain;
        Texts servers;
    } rows[] = {
        {"nameserver 10.0.0.1\nnameserver 10.0.0.2\n", "", {"10.0.0.1", "10.0.0.2"}},
        {"domain lan\nsearch a.example b.example\n", "a.example", {}},
        {"search a.example b.example\ndomain lan\n", "lan", {}},
        {"# nameserver 10.9.9.9\n; x\n  nameserver\t10.0.0.3  # x\n", "", {"10.0.0.3"}},
        {"nameserver ::1\nnameserver fe80::1%eth0\nnameserver 10.0.0.4\n", "", {"10.0.0.4"}},
        {"nameserver 10.0.0.1.5\nnameserver\nsearch\noptions edns0\r\n", "", {}},
        {"nameserver 10.0.0.6", "", {"10.0.0.6"}},
    };
    for (const Row& row : rows) {
        const ResolverConfig config = ParseResolverConfig(row.text);
        EXPECT_EQ(config.domain, row.domain) << row.text;
        EXPECT_EQ(config.nameservers, row.servers) << row.text;
    }
}

TEST(NetworkParamsStandIn, StubResolverIsReplacedByTheServersBehindIt) {
    struct Row {
        std::optional<std::string> etc;
        std::optional<std::string> upstream;
        Texts servers;
        const char* domain;
    } rows[] = {
        {"nameserver 198.18.53.1\n", "nameserver 10.1.1.1\n", {"198.18.53.1"}, ""},
        {"nameserver 127.0.0.53\nsearch lan\n",
         "nameserver 10.1.1.1\nnameserver 10.1.1.2\nsearch other\n",
         {"10.1.1.1", "10.1.1.2"},
         "lan"},
        {"nameserver 127.0.0.53\n", std::nullopt, {}, ""},
        {"nameserver 127.0.0.53\n", "search lan\n", {}, ""},
        {"nameserver 127.0.0.53\nnameserver 10.2.2.2\n",
         "nameserver 10.1.1.1\n",
         {"127.0.0.53", "10.2.2.2"},
         ""},
        {std::nullopt, "nameserver 10.1.1.1\n", {}, ""},
    };
    for (const Row& row : rows) {
        TempDir root;
        if (row.etc) {
            Put(root, "etc/resolv.conf", *row.etc);
        }
        if (row.upstream) {
            Put(root, "run/systemd/resolve/resolv.conf", *row.upstream);
        }
        const NetworkParams params =
            GetNetworkParams({root.path(), [] { return std::string("client7"); }});
        const std::string what = row.etc.value_or("(none)");
        EXPECT_EQ(params.hostName, "client7");
        EXPECT_EQ(params.domainName, row.domain) << what;
        EXPECT_EQ(params.dnsServers, row.servers) << what;
        EXPECT_EQ(params.dnsEnabled, row.servers.empty() ? 0u : 1u) << what;
    }
}

TEST(DefaultRoutes, GatewaysOfOneInterfaceLowestMetricFirst) {
    const std::string table =
        std::string(kRouteHeader) + RouteLine("eth0", "0.0.0.0", "10.0.0.9", 0x3, 600, "0.0.0.0") +
        RouteLine("eth0", "0.0.0.0", "10.0.0.1", 0x3, 100, "0.0.0.0") +
        RouteLine("eth1", "0.0.0.0", "10.1.0.1", 0x3, 50, "0.0.0.0") +
        RouteLine("eth2", "0.0.0.0", "10.2.0.9", 0x3, 600, "0.0.0.0") +
        RouteLine("eth2", "0.0.0.0", "10.2.0.1", 0x3, 100, "0.0.0.0") +
        RouteLine("eth0", "10.0.0.0", "0.0.0.0", 0x1, 0, "255.255.255.0") +
        RouteLine("eth0", "0.0.0.0", "10.0.0.7", 0x1, 0, "0.0.0.0") +      // no gateway flag
        RouteLine("eth0", "0.0.0.0", "10.0.0.8", 0x2, 0, "0.0.0.0") +      // not up
        RouteLine("eth0", "0.0.0.0", "10.0.0.1", 0x3, 700, "0.0.0.0") +    // repeat
        RouteLine("eth0", "0.0.0.0", "10.0.0.5", 0x3, 100, "255.0.0.0") +  // not default
        "eth0\tZZ\t0100000A\t0003\t0\t0\t0\t00000000\n"
        "eth0\t00000000\n"
        "ppp0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n";
    const std::vector<DefaultRoute> routes = ParseDefaultRoutes(table);
    EXPECT_EQ(GatewaysOf(routes, "eth0"), (std::vector{Ip("10.0.0.1"), Ip("10.0.0.9")}));
    EXPECT_EQ(GatewaysOf(routes, "eth1"), std::vector{Ip("10.1.0.1")});
    EXPECT_EQ(GatewaysOf(routes, "eth2"), (std::vector{Ip("10.2.0.1"), Ip("10.2.0.9")}));
    EXPECT_TRUE(GatewaysOf(routes, "ppp0").empty());
    EXPECT_TRUE(ParseDefaultRoutes(RouteLine("eth0", "0.0.0.0", "10.0.0.1", 3, 0, "0.0.0.0"))
                    .empty());  // the first line is always the header
}

TEST(DhcpLeases, ServerAndAddressFromEachClientsFormat) {
    struct Row {
        bool dhclient;
        const char* text;
        std::optional<std::pair<const char*, const char*>> lease;  // address, server
    } rows[] = {
        {false, "# comment\nADDRESS=10.0.0.5\nSERVER_ADDRESS=10.0.0.1\nT1=300\n",
         std::pair{"10.0.0.5", "10.0.0.1"}},
        {false, "ADDRESS=10.0.0.5\n", std::nullopt},
        {false, "SERVER_ADDRESS=not-an-address\n", std::nullopt},
        {true,
         "lease {\n  interface \"eth0\";\n  fixed-address 10.0.0.5;\n"
         "  option dhcp-server-identifier 10.0.0.1;\n}\n"
         "lease {\n  interface \"eth0\";\n  fixed-address 10.0.0.6;\n"
         "  option dhcp-server-identifier 10.0.0.2;\n}\n",
         std::pair{"10.0.0.6", "10.0.0.2"}},
        {true,
         "lease { interface \"eth0\"; fixed-address 10.0.0.5; option dhcp-server-identifier "
         "10.0.0.1; }\nlease { interface \"eth1\"; fixed-address 10.9.0.5; option "
         "dhcp-server-identifier 10.9.0.1; }\n",
         std::pair{"10.0.0.5", "10.0.0.1"}},
        {true, "lease { fixed-address 10.0.0.5; option dhcp-server-identifier 10.0.0.1; }",
         std::pair{"10.0.0.5", "10.0.0.1"}},
        {true, "lease { interface \"eth1\"; option dhcp-server-identifier 10.0.0.1; }",
         std::nullopt},
        {true, "lease { interface \"eth0\"; option dhcp-server-identifier 10.0.0.1;",
         std::nullopt},  // never closed
        {true, "option dhcp-server-identifier 10.0.0.1;", std::nullopt},
    };
    for (const Row& row : rows) {
        const auto lease =
            row.dhclient ? ParseDhclientLeases(row.text, "eth0") : ParseKeyValueLease(row.text);
        ASSERT_EQ(lease.has_value(), row.lease.has_value()) << row.text;
        if (lease) {
            EXPECT_EQ(lease->address, Ip(row.lease->first)) << row.text;
            EXPECT_EQ(lease->server, Ip(row.lease->second)) << row.text;
        }
    }
}

TEST(AdaptersStandIn, OneRecordPerInterfaceAsWindowsWouldReportIt) {
    TempDir root;
    Put(root, "proc/net/route",
        std::string(kRouteHeader) + RouteLine("eth0", "0.0.0.0", "10.0.0.1", 3, 100, "0.0.0.0") +
            RouteLine("wlan0", "0.0.0.0", "10.3.0.1", 3, 600, "0.0.0.0"));
    Put(root, "run/systemd/netif/leases/2", "ADDRESS=10.0.0.5\nSERVER_ADDRESS=10.0.0.254\n");
    // A dhclient lease of an earlier network, and NetworkManager's lease of the current one.
    Put(root, "var/lib/dhcp/dhclient.wlan0.leases",
        "lease { interface \"wlan0\"; fixed-address 192.168.7.7; "
        "option dhcp-server-identifier 192.168.7.1; }\n");
    Put(root, "var/lib/NetworkManager/internal-4f2c-wlan0.lease",
        "ADDRESS=10.3.0.8\nSERVER_ADDRESS=10.3.0.2\n");
    Put(root, "var/lib/dhcp/dhclient.eth1.leases",
        "lease { interface \"eth1\"; fixed-address 10.2.0.5; "
        "option dhcp-server-identifier 10.2.0.1; }\n");
    const unsigned upRunning = IFF_UP | IFF_RUNNING;
    const std::vector<NetInterface> interfaces = {
        {"wlan0", 5, upRunning, {Ip("10.3.0.8")}},
        {"lo", 1, upRunning | IFF_LOOPBACK, {Ip("127.0.0.1")}},
        {"eth0", 2, upRunning, {Ip("10.0.0.5"), Ip("10.0.0.6")}},
        {"eth1", 3, IFF_UP, {Ip("10.2.0.5")}},  // no carrier
        {"eth2", 4, upRunning, {}},
    };
    const std::vector<AdapterRecord> adapters =
        GetAdaptersInfo({root.path(), [&] { return interfaces; }});

    struct Row {
        const char* name;
        const char* current;
        Texts addresses;
        Texts gateways;
        Texts dhcp;
    } rows[] = {
        {"eth0", "10.0.0.5", {"10.0.0.5", "10.0.0.6"}, {"10.0.0.1"}, {"10.0.0.254"}},
        {"eth1", "0.0.0.0", {"0.0.0.0"}, {}, {"10.2.0.1"}},
        {"eth2", "0.0.0.0", {"0.0.0.0"}, {}, {}},
        {"wlan0", "10.3.0.8", {"10.3.0.8"}, {"10.3.0.1"}, {"10.3.0.2"}},
    };
    ASSERT_EQ(adapters.size(), std::size(rows));
    for (std::size_t i = 0; i < adapters.size(); ++i) {
        const Row& row = rows[i];
        EXPECT_EQ(adapters[i].name, row.name);
        EXPECT_EQ(adapters[i].currentAddress, row.current) << row.name;
        EXPECT_EQ(adapters[i].addresses, row.addresses) << row.name;
        EXPECT_EQ(adapters[i].gateways, row.gateways) << row.name;
        EXPECT_EQ(adapters[i].dhcpServers, row.dhcp) << row.name;
        EXPECT_EQ(adapters[i].dhcpEnabled, row.dhcp.empty() ? 0u : 1u) << row.name;
    }
}

TEST(AdaptersStandIn, OnlyLoopbackOrNothingGivesNoAdapter) {
    TempDir root;
    EXPECT_TRUE(GetAdaptersInfo({root.path(), [] { return std::vector<NetInterface>{}; }}).empty());
    EXPECT_TRUE(GetAdaptersInfo({root.path(),
                                 [] {
                                     return std::vector<NetInterface>{
                                         {"lo", 1, IFF_UP | IFF_LOOPBACK, {Ip("127.0.0.1")}}};
                                 }})
                    .empty());
}

}  // namespace
