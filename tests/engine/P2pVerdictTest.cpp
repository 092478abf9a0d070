// The verdict and its problems from scripted observations: each line is one network as the
// probes would see it.
#include "engine/P2pVerdict.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumidex {
namespace {

const TransportAddress kLocal{"192.168.1.20", 40000};
const TransportAddress kPublic{"203.1.113.7", 40000};
const TransportAddress kPublicOther{"203.1.113.7", 51234};
const TransportAddress kPublicThird{"203.1.113.7", 51999};
const TransportAddress kOther{"198.1.0.2", 3479};

StunObservations Stun(std::optional<TransportAddress> m1, std::optional<TransportAddress> m2) {
    StunObservations stun;
    stun.servers = {"stun1.example:3478", "stun2.example:3478"};
    stun.local = kLocal;
    stun.mapped1 = std::move(m1);
    stun.mapped2 = std::move(m2);
    return stun;
}

// A server that gave OTHER-ADDRESS, with the third test's two answers and both filtering tests.
StunObservations Behaviour(StunObservations stun, std::optional<TransportAddress> other,
                           std::optional<TransportAddress> otherAndPort,
                           std::optional<bool> changeBoth, std::optional<bool> changePort) {
    stun.otherAddress = kOther;
    stun.mappedOtherAddress = std::move(other);
    stun.mappedOtherAddressAndPort = std::move(otherAndPort);
    stun.changeIpAndPortAnswered = changeBoth;
    stun.changePortAnswered = changePort;
    return stun;
}

TEST(P2pVerdictTest, MappingAndFilteringFromTheStunAnswers) {
    const struct {
        const char* name;
        StunObservations stun;
        NatMapping mapping;
        NatFiltering filtering;
    } cases[] = {
        {"no answer", Stun({}, {}), NatMapping::Unknown, NatFiltering::Unknown},
        {"one answer behind a NAT", Stun(kPublic, {}), NatMapping::Unknown, NatFiltering::Unknown},
        {"one answer showing the own address", Stun(kLocal, {}), NatMapping::None,
         NatFiltering::Unknown},
        {"own address twice", Stun(kLocal, kLocal), NatMapping::None, NatFiltering::Unknown},
        {"same mapping twice", Stun(kPublic, kPublic), NatMapping::EndpointIndependent,
         NatFiltering::Unknown},
        {"varies, no other address", Stun(kPublic, kPublicOther), NatMapping::EndpointDependent,
         NatFiltering::Unknown},
        {"varies, other address on two ports alike",
         Behaviour(Stun(kPublic, kPublicOther), kPublicOther, kPublicOther, false, false),
         NatMapping::AddressDependent, NatFiltering::AddressAndPortDependent},
        {"varies with the port too",
         Behaviour(Stun(kPublic, kPublicOther), kPublicOther, kPublicThird, false, true),
         NatMapping::AddressAndPortDependent, NatFiltering::AddressDependent},
        {"varies, third test unanswered",
         Behaviour(Stun(kPublic, kPublicOther), kPublicOther, {}, true, false),
         NatMapping::EndpointDependent, NatFiltering::EndpointIndependent},
        {"change requests not made", Behaviour(Stun(kPublic, kPublic), {}, {}, {}, {}),
         NatMapping::EndpointIndependent, NatFiltering::Unknown},
        {"change of port not made", Behaviour(Stun(kPublic, kPublic), {}, {}, false, {}),
         NatMapping::EndpointIndependent, NatFiltering::Unknown},
        // Unanswered change requests of a server that answered nothing say nothing.
        {"other address but no answer", Behaviour(Stun({}, {}), {}, {}, false, false),
         NatMapping::Unknown, NatFiltering::Unknown},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecideMapping(c.stun), c.mapping) << c.name;
        EXPECT_EQ(DecideFiltering(c.stun), c.filtering) << c.name;
    }
}

PortMappingAnswer Mapping(PortMappingProtocol protocol, bool available, std::string external,
                          std::string detail = "result 0") {
    return {protocol, true, available, std::move(external), false, std::move(detail)};
}

PortMappingAnswer Silent(PortMappingProtocol protocol) {
    return {protocol, false, false, "", false, "no answer"};
}

std::vector<PortMappingAnswer> NoRouterAnswer() {
    return {Silent(PortMappingProtocol::Upnp), Silent(PortMappingProtocol::NatPmp),
            Silent(PortMappingProtocol::Pcp)};
}

struct Expected {
    P2pVerdict verdict;
    std::vector<std::string> problems;  // codes, in order
    bool doubleNat = false;
    bool carrierGradeNat = false;
};

std::vector<std::string> Codes(const std::vector<Problem>& problems) {
    std::vector<std::string> codes;
    for (const Problem& problem : problems) {
        codes.emplace_back(InfoOf(problem.code).name);
    }
    return codes;
}

TEST(P2pVerdictTest, VerdictProblemsAndNatSigns) {
    const auto observe = [](StunObservations stun, std::vector<PortMappingAnswer> mapping = {}) {
        P2pObservations o;
        o.stun = std::move(stun);
        o.portMapping = mapping.empty() ? NoRouterAnswer() : std::move(mapping);
        o.localAddress = kLocal.address;
        o.probes = {{ProbeKind::Upnp, "192.168.1.1", ProbeOutcome::Timeout, {}, "answer"}};
        return o;
    };
    const auto withHop = [](P2pObservations o, std::string hop) {
        o.hopPastGateway = std::move(hop);
        return o;
    };
    const auto withLocal = [](P2pObservations o, std::string local) {
        o.localAddress = std::move(local);
        return o;
    };
    const auto withClientPorts = [](P2pObservations o, std::vector<ClientPortMapping> ports) {
        o.clientPorts = std::move(ports);
        return o;
    };
    const auto mismatch = [] {
        PortMappingAnswer pcp = Mapping(PortMappingProtocol::Pcp, false, "", "ADDRESS_MISMATCH");
        pcp.addressMismatch = true;
        return pcp;
    };
    const auto noNatFiltered = Behaviour(Stun(kLocal, kLocal), {}, {}, false, false);
    const auto noNatOpen = Behaviour(Stun(kLocal, kLocal), {}, {}, true, true);
    const auto eim = Stun(kPublic, kPublic);
    const auto varies = Stun(kPublic, kPublicOther);
    const auto goodUpnp = Mapping(PortMappingProtocol::Upnp, true, kPublic.address);
    const struct {
        const char* name;
        P2pObservations observations;
        bool serviceUdp;
        Expected expected;
    } cases[] = {
        {"nothing answers UDP",
         observe(Stun({}, {})),
         false,
         {P2pVerdict::Blocked, {"udp_blocked"}}},
        {"STUN silent, service UDP works",
         observe(Stun({}, {})),
         true,
         {P2pVerdict::Unknown, {"stun_unreachable"}}},
        {"one answer behind a NAT",
         observe(Stun(kPublic, {})),
         true,
         {P2pVerdict::Unknown, {"no_port_mapping"}}},
        {"no NAT, open filtering", observe(noNatOpen), false, {P2pVerdict::Open, {}}},
        {"no NAT, filtering unknown", observe(Stun(kLocal, {})), false, {P2pVerdict::Open, {}}},
        {"no NAT, a host firewall filters",
         observe(noNatFiltered),
         true,
         {P2pVerdict::Moderate, {}}},
        {"endpoint-independent NAT without port mapping",
         observe(eim),
         true,
         {P2pVerdict::Moderate, {"no_port_mapping"}}},
        {"endpoint-independent NAT with UPnP",
         observe(eim, {goodUpnp}),
         true,
         {P2pVerdict::Open, {}}},
        {"strict NAT",
         observe(varies),
         true,
         {P2pVerdict::Strict, {"nat_mapping_varies", "no_port_mapping"}}},
        {"strict NAT opened by a usable mapping",
         observe(varies, {goodUpnp}),
         true,
         {P2pVerdict::Open, {"nat_mapping_varies"}}},
        {"router refuses mappings",
         observe(eim, {Mapping(PortMappingProtocol::NatPmp, false, kPublic.address, "result 2")}),
         true,
         {P2pVerdict::Moderate, {"port_mapping_refused"}}},
        {"router's WAN is private: double NAT",
         observe(eim, {Mapping(PortMappingProtocol::Upnp, true, "10.0.0.2")}),
         true,
         {P2pVerdict::Moderate, {"double_nat"}, true}},
        {"router's WAN differs from what STUN saw",
         observe(eim, {Mapping(PortMappingProtocol::Upnp, true, "203.1.113.99")}),
         true,
         {P2pVerdict::Moderate, {"double_nat"}, true}},
        {"PCP address mismatch",
         observe(eim, {mismatch()}),
         true,
         {P2pVerdict::Moderate, {"port_mapping_refused", "double_nat"}, true}},
        {"router reports no external address, carrier hop",
         withHop(observe(eim, {Mapping(PortMappingProtocol::Upnp, true, ""),
                               Mapping(PortMappingProtocol::NatPmp, false, "", "result 3")}),
                 "100.64.0.1"),
         true,
         {P2pVerdict::Moderate,
          {"port_mapping_refused", "double_nat", "carrier_grade_nat"},
          true,
          true}},
        {"router reports a carrier-grade WAN",
         observe(eim, {Mapping(PortMappingProtocol::NatPmp, true, "100.100.1.2")}),
         true,
         {P2pVerdict::Moderate, {"double_nat", "carrier_grade_nat"}, true, true}},
        {"this computer's own address is carrier-grade",
         withLocal(observe(Stun(kPublic, kPublic)), "100.127.255.254"),
         true,
         {P2pVerdict::Moderate, {"no_port_mapping", "carrier_grade_nat"}, false, true}},
        {"just outside the carrier-grade range",
         withHop(observe(eim), "100.128.0.1"),
         true,
         {P2pVerdict::Moderate, {"no_port_mapping"}}},
        {"client port not mapped",
         withClientPorts(observe(eim, {goodUpnp}), {{7000, true, ""}, {7001, false, "714"}}),
         true,
         {P2pVerdict::Open, {"client_port_not_mapped"}}},
        {"client ports without UPnP",
         withClientPorts(observe(eim), {{7001, false, ""}}),
         true,
         {P2pVerdict::Moderate, {"no_port_mapping"}}},
    };
    for (const auto& c : cases) {
        const P2pResult result = DecideP2p(c.observations, c.serviceUdp);
        EXPECT_EQ(P2pVerdictName(result.verdict), P2pVerdictName(c.expected.verdict)) << c.name;
        EXPECT_EQ(Codes(result.problems), c.expected.problems) << c.name;
        EXPECT_EQ(result.doubleNat, c.expected.doubleNat) << c.name;
        EXPECT_EQ(result.carrierGradeNat, c.expected.carrierGradeNat) << c.name;
        EXPECT_EQ(result.udp, c.serviceUdp || c.observations.stun.mapped1.has_value()) << c.name;
    }
}

TEST(P2pVerdictTest, ProblemsNameWhatShowedThem) {
    P2pObservations o;
    o.stun = Stun(kPublic, kPublicOther);
    o.portMapping = {Mapping(PortMappingProtocol::Upnp, true, "10.0.0.2"),
                     Mapping(PortMappingProtocol::NatPmp, false, "", "result 3")};
    o.hopPastGateway = "100.64.0.1";
    o.clientPorts = {{7001, false, "UPnP error 714"}};
    const P2pResult result = DecideP2p(o, true);
    ASSERT_EQ(Codes(result.problems),
              (std::vector<std::string>{"nat_mapping_varies", "port_mapping_refused", "double_nat",
                                        "carrier_grade_nat", "client_port_not_mapped"}));
    EXPECT_EQ(result.problems[0].targets,
              (std::vector<std::string>{"203.1.113.7:40000", "203.1.113.7:51234"}));
    EXPECT_EQ(result.problems[1].targets, (std::vector<std::string>{"nat-pmp"}));
    EXPECT_EQ(result.problems[1].detail, "nat-pmp: result 3");
    EXPECT_EQ(result.problems[2].targets, (std::vector<std::string>{"10.0.0.2", "203.1.113.7"}));
    EXPECT_EQ(result.problems[3].targets, (std::vector<std::string>{"100.64.0.1"}));
    EXPECT_EQ(result.problems[4].targets, (std::vector<std::string>{"7001"}));
    EXPECT_EQ(result.problems[4].detail, "7001: UPnP error 714");
    ASSERT_TRUE(result.mappedAddress);
    EXPECT_EQ(ToString(*result.mappedAddress), "203.1.113.7:40000");
}

TEST(P2pVerdictTest, NonPublicAddresses) {
    for (const char* address : {"10.1.2.3", "172.31.255.255", "192.168.0.1", "100.64.0.0",
                                "127.0.0.1", "169.254.1.1", "198.19.0.1", "192.0.2.1", "0.0.0.0",
                                "224.0.0.1", "255.255.255.255", "", "not an address", "::1"}) {
        EXPECT_TRUE(IsNonPublicIpv4(address)) << address;
    }
    for (const char* address :
         {"8.8.4.4", "172.32.0.1", "100.128.0.1", "198.20.0.1", "203.1.113.7", "192.169.0.1"}) {
        EXPECT_FALSE(IsNonPublicIpv4(address)) << address;
    }
}

}  // namespace
}  // namespace lumidex
