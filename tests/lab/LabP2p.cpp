// Peer reachability in the lab. P2pLab proves the network itself with the lab's probe script
// (what the NAT, the STUN servers and the router show any client); P2pVerdict reads the `p2p`
// block of lumidex-console --json, both walks, against one line per scenario.
#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "LabConsoleRun.h"
#include "LabFixture.h"
#include "support/RunProcess.h"

namespace lumidex::labtest {
namespace {

// A port-mapping protocol's "available" as a scenario fixes it, or either where the router's
// answer may count either way (it answered, but without an address).
enum class Offered { No, Yes, Either };

struct P2pLine {
    std::string verdict;
    std::string mapping;
    std::string filtering;  // empty: not compared
    std::map<std::string, Offered> portMapping;
    bool doubleNat = false;
    bool carrierGradeNat = false;
    std::vector<std::string> problems{};  // each must be there
    std::vector<std::string> may{};       // tolerated besides
};

const std::map<std::string, Offered> kNoMapping = {
    {"upnp", Offered::No}, {"nat-pmp", Offered::No}, {"pcp", Offered::No}};

const std::map<std::string, P2pLine>& Table() {
    // Linux's NAT lets in only what answers a destination the client sent to: behind it,
    // filtering is address-and-port-dependent whatever its mapping.
    static const std::map<std::string, P2pLine> table = {
        {"p2p-no-nat", {"open", "none", "endpoint_independent", kNoMapping}},
        {"p2p-upnp",
         {"open",
          "endpoint_independent",
          "address_and_port_dependent",
          {{"upnp", Offered::Yes}, {"nat-pmp", Offered::Yes}, {"pcp", Offered::Yes}}}},
        {"p2p-nat-no-mapping",
         {"moderate",
          "endpoint_independent",
          "address_and_port_dependent",
          kNoMapping,
          false,
          false,
          {"no_port_mapping"}}},
        {"p2p-symmetric",
         {"strict",
          "address_and_port_dependent",
          "address_and_port_dependent",
          kNoMapping,
          false,
          false,
          {"nat_mapping_varies", "no_port_mapping"}}},
        {"p2p-udp-blocked",
         {"blocked",
          "unknown",
          "unknown",
          kNoMapping,
          false,
          false,
          {"udp_blocked"},
          {"no_port_mapping", "stun_unreachable"}}},
        // miniupnpd on a carrier-grade WAN: UPnP without an external address, NAT-PMP result 3.
        {"p2p-cgnat",
         {"moderate",
          "endpoint_independent",
          "address_and_port_dependent",
          {{"upnp", Offered::Either}, {"nat-pmp", Offered::Either}, {"pcp", Offered::Either}},
          true,
          true,
          {"port_mapping_refused", "double_nat", "carrier_grade_nat"}}},
        {"p2p-cgnat-natpmp",
         {"moderate",
          "endpoint_independent",
          "address_and_port_dependent",
          {{"upnp", Offered::No}, {"nat-pmp", Offered::Yes}, {"pcp", Offered::No}},
          true,
          true,
          {"double_nat", "carrier_grade_nat"},
          {"port_mapping_refused"}}},
        {"p2p-double-nat",
         {"moderate",
          "endpoint_independent",
          "address_and_port_dependent",
          {{"upnp", Offered::Either}, {"nat-pmp", Offered::Either}, {"pcp", Offered::Either}},
          true,
          false,
          {"double_nat"},
          {"port_mapping_refused", "no_port_mapping"}}},
        {"p2p-plain-stun",
         {"moderate",
          "endpoint_independent",
          "unknown",
          kNoMapping,
          false,
          false,
          {"no_port_mapping"}}},
        // Not one valid answer, while the service's UDP works.
        {"p2p-hostile-stun",
         {"unknown",
          "unknown",
          "unknown",
          kNoMapping,
          false,
          false,
          {"stun_unreachable"},
          {"no_port_mapping"}}},
    };
    return table;
}

std::string Codes(const Json& problems) {
    std::string codes;
    for (const Json& problem : problems) {
        codes += problem.value("code", "?") + " ";
    }
    return codes;
}

// What one run's `p2p` block gets wrong against LINE; empty when nothing.
std::vector<std::string> Mismatches(const Json& p2p, const P2pLine& line) {
    std::vector<std::string> wrong;
    if (!p2p.is_object()) {
        return {"no p2p block"};
    }
    const auto expect = [&](const char* key, const Json& wanted) {
        if (p2p.value(key, Json()) != wanted) {
            wrong.push_back(std::string(key) + " " + p2p.value(key, Json()).dump() + ", expected " +
                            wanted.dump());
        }
    };
    expect("verdict", line.verdict);
    expect("mapping", line.mapping);
    if (!line.filtering.empty()) {
        expect("filtering", line.filtering);
    }
    expect("double_nat", line.doubleNat);
    expect("carrier_grade_nat", line.carrierGradeNat);
    std::map<std::string, bool> offered;
    for (const Json& protocol : p2p.value("port_mapping", Json::array())) {
        offered[protocol.value("protocol", "")] = protocol.value("available", false);
    }
    for (const auto& [protocol, wanted] : line.portMapping) {
        if (offered.count(protocol) == 0) {
            wrong.push_back("no port_mapping entry for " + protocol);
        } else if (wanted != Offered::Either && offered[protocol] != (wanted == Offered::Yes)) {
            wrong.push_back(protocol + (offered[protocol] ? " available" : " not available"));
        }
    }
    std::set<std::string> found;
    for (const Json& problem : p2p.value("problems", Json::array())) {
        found.insert(problem.value("code", ""));
    }
    for (const std::string& code : line.problems) {
        if (found.erase(code) == 0) {
            wrong.push_back("missing problem " + code);
        }
    }
    for (const std::string& code : found) {
        if (std::find(line.may.begin(), line.may.end(), code) == line.may.end()) {
            wrong.push_back("unexpected problem " + code);
        }
    }
    return wrong;
}

using P2pVerdict = LabTest;

TEST_F(P2pVerdict, BothWalksGiveTheScenariosReachability) {
    const std::string scenario = lab().Notes()["scenario"];
    const auto entry = Table().find(scenario);
    ASSERT_NE(entry, Table().end()) << "no line for " << scenario << " in the P2P table";
    const ConsoleRun& oneAtATime = RunOneAtATimeOnce();
    for (const ConsoleRun* run : {&RunConsoleOnce(), &oneAtATime}) {
        ASSERT_TRUE(run->result.is_object()) << run->output;
        const Json p2p = run->result.value("p2p", Json());
        for (const std::string& wrong : Mismatches(p2p, entry->second)) {
            ADD_FAILURE() << (run == &oneAtATime ? "one at a time: " : "concurrent: ") << wrong
                          << " (problems: "
                          << Codes(p2p.is_object() ? p2p.value("problems", Json::array())
                                                   : Json::array())
                          << ")";
        }
    }
}

// The lab's probe script in this lab: one JSON object a line.
std::vector<Json> Probe(const std::vector<std::string>& args = {}) {
    const testing::ProcessResult result = testing::RunProcess(
        "/usr/bin/python3",
        [&] {
            std::vector<std::string> all = {LUMIDEX_LAB_PROBE};
            all.insert(all.end(), args.begin(), args.end());
            return all;
        }(),
        {}, std::chrono::seconds(30));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::vector<Json> lines;
    std::istringstream out(result.out);
    for (std::string text; std::getline(out, text);) {
        lines.push_back(Json::parse(text, nullptr, false));
    }
    return lines;
}

using P2pLab = LabTest;

// What any client sees of the NAT: its own address with none, one outside port for every
// server with endpoint-independent mapping, a port per server with random mapping, nothing
// when UDP is blocked; and what the router's port-mapping services answer.
TEST_F(P2pLab, NatAndRouterShowWhatTheScenarioSays) {
    const std::string nat = lab().Setting("NAT");
    const std::string stun = lab().Setting("STUN");
    const std::vector<Json> lines = Probe();
    ASSERT_FALSE(lines.empty());
    const int localPort = lines[0].value("local_port", 0);
    std::set<std::string> mapped;
    std::set<std::string> answering;
    Json natpmp, ssdp;
    for (const Json& line : lines) {
        if (line.contains("stun") && !line.contains("test") &&
            line.value("from", Json()).is_string()) {
            answering.insert(line["stun"].get<std::string>());
            mapped.insert(line.value("mapped", ""));
        }
        if (line.contains("natpmp_result")) {
            natpmp = line;
        }
        if (line.contains("ssdp")) {
            ssdp = line;
        }
    }
    const std::size_t servers = [&] {
        std::size_t count = 0;
        for (const Json& server : lab().Notes()["stun"]) {
            count += server["otherAddress"].is_string() ? 2 : 1;
        }
        return count;
    }();
    if (nat == "udp-blocked" || stun == "off") {
        EXPECT_TRUE(answering.empty());
    } else if (stun != "hostile") {
        EXPECT_EQ(answering.size(), servers);
        if (nat == "none") {
            EXPECT_EQ(mapped, std::set<std::string>{lab().Notes()["client"].get<std::string>() +
                                                    ":" + std::to_string(localPort)});
        } else if (nat == "random") {
            EXPECT_EQ(mapped.size(), servers);
        } else {
            EXPECT_EQ(mapped.size(), 1u);
            EXPECT_EQ(
                mapped.begin()->rfind(lab().Notes()["natOutside"].get<std::string>() + ":", 0), 0u);
        }
    }

    const std::string upnp = lab().Setting("UPNP");
    EXPECT_EQ(ssdp.value("ssdp", Json()).is_string(), upnp == "on") << ssdp.dump();
    if (upnp == "off") {
        EXPECT_TRUE(natpmp.value("natpmp_result", Json()).is_null()) << natpmp.dump();
        return;
    }
    // miniupnpd reports a public WAN address and refuses a reserved one (result 3); the
    // stand-in reports whatever the WAN has.
    const std::string wan = lab().Notes()["routerWan"];
    const bool reserved = lab().Setting("CGNAT") == "on" || lab().Setting("DOUBLE_NAT") == "on";
    if (upnp == "natpmp" || !reserved) {
        EXPECT_EQ(natpmp.value("natpmp_result", -1), 0) << natpmp.dump();
        EXPECT_EQ(natpmp.value("external", ""), wan) << natpmp.dump();
    } else {
        EXPECT_EQ(natpmp.value("natpmp_result", -1), 3) << natpmp.dump();
    }
}

// The first hop past the gateway is the carrier's 100.64 address behind a carrier-grade NAT,
// the outer router's private one behind a double NAT.
TEST_F(P2pLab, HopPastTheGatewayIsTheOuterRouter) {
    const Json chain = lab().Notes()["chain"];
    if (chain.empty()) {
        GTEST_SKIP() << "no router past the client's in this scenario";
    }
    const std::vector<Json> hops = Probe({"--trace", lab().Hosts("public-site").at(0)["address"]});
    ASSERT_GE(hops.size(), 2u);
    EXPECT_EQ(hops[0]["answers"][0], lab().Notes()["gateway"]);
    EXPECT_EQ(hops[1]["answers"][0], chain[0]);
    if (lab().Setting("CGNAT") == "on") {
        EXPECT_EQ(chain[0].get<std::string>().rfind("100.64.", 0), 0u);
    }
}

}  // namespace
}  // namespace lumidex::labtest
