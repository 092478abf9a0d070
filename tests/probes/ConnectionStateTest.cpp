// Dial-up and connected state from fixture interface lists.
#include "probes/ConnectionState.h"

#include <gtest/gtest.h>
#include <net/if.h>

#include <string>
#include <vector>

#include "platform/ConnectionStandIns.h"

namespace lumidex {
namespace {

using platform::NetInterface;

constexpr unsigned kUpRunning = IFF_UP | IFF_RUNNING;

NetInterface If(std::string name, unsigned flags, bool hasIpv4) {
    NetInterface interface;
    interface.name = std::move(name);
    interface.flags = flags;
    if (hasIpv4) {
        interface.ipv4.push_back(0x0201A8C0);  // 192.168.1.2
    }
    return interface;
}
const NetInterface kLoopback = If("lo", kUpRunning | IFF_LOOPBACK, true);
const NetInterface kLan = If("eth0", kUpRunning | IFF_BROADCAST, true);
const NetInterface kLanDown = If("eth0", IFF_BROADCAST, true);
const NetInterface kLanNoAddress = If("eth0", kUpRunning, false);
const NetInterface kLanNoCarrier = If("eth0", IFF_UP, true);
const NetInterface kPppUp = If("ppp0", kUpRunning | IFF_POINTOPOINT, true);
const NetInterface kPppDialling = If("ppp0", IFF_UP | IFF_POINTOPOINT, false);
const NetInterface kPppDown = If("ppp1", IFF_POINTOPOINT, false);

TEST(ConnectionStateTest, DialUpFirstThenAnyWorkingInterface) {
    const struct {
        const char* name;
        std::vector<NetInterface> interfaces;
        bool dialUp;
        std::int32_t state;
        std::string dialling = {};
    } rows[] = {
        {"LAN", {kLoopback, kLan}, false, kNetworkConnected},
        {"dial-up up", {kLoopback, kPppUp}, true, kDialUpConnected},
        {"dial-up beside LAN", {kLoopback, kLan, kPppUp}, true, kDialUpConnected},
        {"still dialling falls back",
         {kLoopback, kLan, kPppDialling},
         false,
         kNetworkConnected,
         "ppp0"},
        {"still dialling alone", {kLoopback, kPppDialling}, false, kNotConnected, "ppp0"},
        {"only the first dial-up counts",
         {kPppDialling, If("ppp2", kPppUp.flags, true)},
         false,
         kNetworkConnected,
         "ppp0"},
        {"a dial-up that is down is none",
         {kPppDown, If("ppp2", kPppUp.flags, true)},
         true,
         kDialUpConnected},
        {"loopback alone", {kLoopback}, false, kNotConnected},
        {"interface down", {kLoopback, kLanDown}, false, kNotConnected},
        {"no IPv4 address", {kLoopback, kLanNoAddress}, false, kNotConnected},
        {"no carrier", {kLoopback, kLanNoCarrier}, false, kNotConnected},
        {"no interfaces", {}, false, kNotConnected},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(IsDialUpConnected(row.interfaces), row.dialUp) << row.name;
        EXPECT_EQ(GetLocalConnectionState(row.interfaces), row.state) << row.name;
        EXPECT_EQ(DiallingConnection(row.interfaces), row.dialling) << row.name;
    }
}

}  // namespace
}  // namespace lumidex
