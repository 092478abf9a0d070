// The problems each scenario's run must name, and nothing else: one line per scenario, read
// against lumidex-console --json in that scenario's lab. Every problem carries its code's
// next step and stands on a row the catalogue gives its code, and the text output has its
// "建议" block exactly when there are problems.
#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "LabConsoleRun.h"
#include "LabFixture.h"
#include "engine/ProblemCatalog.h"

namespace lumidex::labtest {
namespace {

// How a problem's targets must match the expected ones.
enum class Targets {
    Exact,     // the same set
    Within,    // some of them, at least one (a random sample picked them)
    Includes,  // all of them, and maybe others
};

struct Expected {
    std::string codes{};  // a code, or alternatives "a|b" when the lab cannot tell which
    int row = 0;          // 0: any row
    // Literal targets or, starting with "@", what the lab's notes name: "@gateway", "@dns"
    // (each server), "@dead-proxy", "@ROLE" (every host of that role), "@channel-servers:MODE"
    // and "@trackers:MODE" (the servers of that mode). Empty: not compared.
    std::vector<std::string> targets{};
    Targets match = Targets::Exact;
};

struct ScenarioLine {
    std::vector<Expected> must{};
    std::vector<std::string> may{};  // codes tolerated; any other code fails
};

// Nothing beyond the client's own link answers, or no name resolves: no public site and no
// Kelvora service can be reached, and without the channel list no server is known.
std::vector<Expected> NoServices(std::vector<Expected> more = {}) {
    std::vector<Expected> all = {{"internet_unreachable", 7},
                                 {"web_hosts_unreachable", 14, {"@website"}},
                                 {"information_hosts_unreachable", 15, {"@information"}},
                                 {"list_hosts_unreachable", 16, {"@list"}},
                                 {"channel_list_unreachable", 16},
                                 {"no_channel_servers_listed", 17},
                                 {"no_trackers_listed", 18}};
    all.insert(all.begin(), more.begin(), more.end());
    return all;
}

// The same when no name resolves: each service row names its hosts' names in one problem, and
// the list row the channel-list host's too, which is no unreachable path.
std::vector<Expected> NoNames(std::vector<Expected> more) {
    std::vector<Expected> all = NoServices(std::move(more));
    std::erase_if(all, [](const Expected& e) { return e.codes == "channel_list_unreachable"; });
    all.push_back({"dns_not_resolving", 14, {"@website"}});
    all.push_back({"dns_not_resolving", 15, {"@information"}});
    all.push_back({"dns_not_resolving", 16, {"@list", "@channel-list"}});
    return all;
}

std::vector<Expected> NoList(const std::string& listCodes) {
    return {{listCodes}, {"no_channel_servers_listed", 17}, {"no_trackers_listed", 18}};
}

// What a captive portal gives, whatever the encoding of its page and its redirects.
ScenarioLine CaptivePortal() {
    return {{{"dns_answers_nonexistent_names", 3, {"198.51.100.90"}},
             {"captive_portal", 7, {"login.portal.lab"}},
             {"product_names_hijacked", 13, {"channel.kelvora.com"}, Targets::Includes},
             {"channel_list_http_error", 16},
             {"channel_list_intercepted", 16, {"login.portal.lab"}},
             {"no_channel_servers_listed", 17},
             {"no_trackers_listed", 18}}};
}

const std::map<std::string, ScenarioLine>& Table() {
    static const std::map<std::string, ScenarioLine> table = {
        {"healthy", {}},
        {"gateway-silent", {{{"gateway_unreachable", 2, {"@gateway"}}}}},
        {"gateway-slow", {{{"gateway_slow", 2, {"@gateway"}}}}},
        {"dns-silent", {{{"dns_server_unreachable", 3, {"@dns"}}}}},
        {"dns-down", {NoNames({{"dns_server_unreachable", 3, {"@dns"}}})}},
        {"no-dns", {NoNames({{"dns_not_configured", 3}})}},
        {"no-route",
         {NoNames({{"local_address_from_host_name", 1},
                   {"gateway_not_configured", 2},
                   {"dns_server_unreachable", 3, {"@dns"}}})}},
        {"no-internet", {{{"internet_unreachable", 7}}}},
        {"hosts-hijacked",
         {{{"hosts_maps_wrong_address", 13, {"channel.kelvora.com"}},
           {"hosts_maps_product_domain", 13, {"www.kelvora.com"}, Targets::Includes},
           {"web_hosts_unreachable", 14, {"www.kelvora.com"}},
           {"channel_list_unreachable"},
           {"no_channel_servers_listed", 17},
           {"no_trackers_listed", 18}}}},
        {"ie-offline", {{{"browser_offline", 4}}}},
        {"proxy-reachable", {}},
        {"proxy-dead", {{{"proxy_unreachable", 5, {"@dead-proxy"}}}}},
        {"proxy-empty", {{{"proxy_empty", 5}}}},
        {"channel-list-404", {NoList("channel_list_http_error")}},
        {"channel-list-malformed", {NoList("channel_list_malformed")}},
        {"channel-list-garbage",
         {NoList("channel_list_malformed|channel_list_http_error|channel_list_unreachable")}},
        {"channel-list-silent", {NoList("channel_list_unreachable")}},
        {"channel-list-chunked", {}},
        {"channel-list-until-close", {}},
        {"channel-list-drip", {NoList("channel_list_unreachable|channel_list_malformed")}},
        {"trackers-silent", {{{"trackers_silent", 18, {"@trackers:silent"}, Targets::Within}}}},
        {"channel-servers-silent",
         {{{"channel_servers_silent", 17, {"@channel-servers:silent"}, Targets::Within}}}},
        {"udp-misbehaving",
         {{{"udp_replies_malformed",
            0,
            {"@channel-servers:malformed", "@channel-servers:wrong-type",
             "@channel-servers:other-address", "@trackers:malformed", "@trackers:wrong-type",
             "@trackers:other-address"}}},
          {"channel_servers_silent", "trackers_silent", "channel_server_slow", "tracker_slow"}}},
        {"services-down",
         {{{"web_hosts_unreachable", 14, {"@website"}},
           {"information_hosts_unreachable", 15, {"@information"}},
           {"list_hosts_unreachable", 16, {"@list"}}}}},
        {"all-silent",
         {NoServices(
             {{"gateway_unreachable", 2, {"@gateway"}}, {"dns_server_unreachable", 3, {"@dns"}}})}},
        {"report-down", {}},
        {"report-302", {}},
        {"report-404", {}},
        {"report-never-close", {}},
        {"submit-never-close", {{{"internet_unreachable", 7}}}},
        {"report-hold-then-close", {{{"internet_unreachable", 7}}}},
        {"download-404", {}},
        {"dialup-connected", {}},
        {"dialup-dialling", {{}, {"dialup_not_connected"}}},
        {"link-down",
         {NoNames({{"link_down", 6}}),
          {"no_local_address", "local_address_from_host_name", "gateway_not_configured",
           "gateway_unreachable", "dns_server_unreachable"}}},
        {"unprivileged", {}},
        {"wmp-8", {{{"player_too_old", 9}}}},
        {"no-wmp",
         {{{"player_missing", 9}},
          {"asf_not_associated", "asx_not_associated", "asx_other_player"}}},
        {"asx-other-player", {{{"asx_other_player", 11}}}},
        {"no-asf-program", {{{"asf_not_associated", 10}}}},
        {"desktop-full", {}},
        // NAT, STUN and port mapping change no row; a router that lets no UDP past silences
        // every server.
        {"p2p-no-nat", {}},
        {"p2p-upnp", {}},
        {"p2p-nat-no-mapping", {}},
        {"p2p-symmetric", {}},
        {"p2p-udp-blocked",
         {{{"channel_servers_silent", 17, {"@channel-servers:ok"}, Targets::Within},
           {"trackers_silent", 18, {"@trackers:ok"}, Targets::Within}}}},
        {"p2p-cgnat", {}},
        {"p2p-cgnat-natpmp", {}},
        {"p2p-double-nat", {}},
        {"p2p-plain-stun", {}},
        {"p2p-hostile-stun", {}},
        // A break on the way: nothing past it answers, names still resolve.
        {"path-provider-break", {NoServices()}},
        {"path-local-break", {NoServices()}},
        {"path-service-silent",
         {{{"web_hosts_unreachable", 14, {"@website"}},
           {"information_hosts_unreachable", 15, {"@information"}},
           {"list_hosts_unreachable", 16, {"@list"}},
           {"channel_list_unreachable", 16},
           {"no_channel_servers_listed", 17},
           {"no_trackers_listed", 18}}}},
        // One datagram in ten lost on the way to the router: single exchanges may fail.
        {"path-wifi-loss",
         {{},
          {"gateway_packet_loss", "gateway_unreachable", "gateway_slow", "dns_server_unreachable",
           "dns_server_slow", "channel_servers_silent", "trackers_silent", "channel_server_slow",
           "tracker_slow", "service_host_slow", "channel_list_slow", "internet_slow",
           "internet_unreachable"}}},
        {"path-silent-hop", {}},
        {"desktop-portal", {{{"desktop_reports_portal", 7}}}},
        {"desktop-no-nm", {}},
        {"desktop-silent", {}},
        // Every TCP host is the portal: rows 14 to 16 pass, the list is its 302.
        {"captive-portal", CaptivePortal()},
        {"portal-gbk", CaptivePortal()},
        {"nxdomain-hijack", {{{"dns_answers_nonexistent_names", 3, {"198.51.100.91"}}}}},
        {"dns-search-wildcard", {}},
        {"portal-false-friend", {}},
        {"client-in-bottles", {}},
        {"client-running", {}},
        // Nothing holds the client: the software rows read an empty prefix.
        {"no-prefix",
         {{{"client_prefix_not_found", 8}},
          {"os_unknown", "player_missing", "player_too_old", "asf_not_associated",
           "asx_not_associated", "asx_other_player"}}},
    };
    return table;
}

struct FoundProblem {
    int row = 0;
    std::string code;
    bool explained = false;  // another problem of the run explains it
    std::vector<std::string> targets;
    std::string advice;
    std::string text;  // for messages
};

std::vector<FoundProblem> FoundProblems(const Json& result) {
    std::vector<FoundProblem> found;
    for (const Json& row : result["rows"]) {
        for (const Json& problem : row.value("problems", Json::array())) {
            found.push_back(
                {row["id"].get<int>(), problem.value("code", ""), problem.contains("caused_by"),
                 problem.value("targets", std::vector<std::string>()), problem.value("advice", ""),
                 "row " + std::to_string(row["id"].get<int>()) + " " + problem.dump()});
        }
    }
    return found;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, separator);) {
        parts.push_back(part);
    }
    return parts;
}

// What an expected target stands for in this lab.
std::vector<std::string> Expand(const std::string& token, const Lab& lab) {
    if (token.empty() || token[0] != '@') {
        return {token};
    }
    const Json& notes = lab.Notes();
    const std::string name = token.substr(1);
    if (name == "gateway") {
        return {notes["gateway"].get<std::string>()};
    }
    if (name == "dns") {
        return notes["dns"].get<std::vector<std::string>>();
    }
    if (name == "dead-proxy") {
        const std::string dead = notes["proxy"]["dead"];
        return {dead.substr(0, dead.find(':'))};
    }
    if (const auto colon = name.find(':'); colon != std::string::npos) {
        const std::string group =
            name.substr(0, colon) == "trackers" ? "trackers" : "channelServers";
        std::vector<std::string> addresses;
        for (const Json& server : notes[group]) {
            if (server["mode"] == name.substr(colon + 1)) {
                addresses.push_back(server["address"]);
            }
        }
        return addresses;
    }
    std::vector<std::string> hosts;
    for (const Json& host : lab.Hosts(name)) {
        if (std::find(hosts.begin(), hosts.end(), host["host"]) == hosts.end()) {
            hosts.push_back(host["host"]);
        }
    }
    return hosts;
}

// A target names an address or host when it holds it as a whole word ("198.51.100.10" is in
// "198.51.100.10:7201", not in "198.51.100.100"): the form of a target is the check's choice.
bool Names(const std::string& target, const std::string& wanted) {
    const auto isNameChar = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-';
    };
    for (auto at = target.find(wanted); at != std::string::npos; at = target.find(wanted, at + 1)) {
        const std::size_t end = at + wanted.size();
        if ((at == 0 || !isNameChar(target[at - 1])) &&
            (end == target.size() || !isNameChar(target[end]))) {
            return true;
        }
    }
    return false;
}

std::string Joined(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) {
        out += (out.empty() ? "" : ", ") + item;
    }
    return "[" + out + "]";
}

// Why the targets do not match, or empty when they do.
std::string TargetMismatch(const std::vector<std::string>& actual,
                           const std::vector<std::string>& wanted, Targets match) {
    std::vector<std::string> missing;
    for (const std::string& w : wanted) {
        const bool named = std::any_of(actual.begin(), actual.end(),
                                       [&](const std::string& a) { return Names(a, w); });
        if (!named) {
            missing.push_back(w);
        }
    }
    std::vector<std::string> surplus;
    for (const std::string& a : actual) {
        const bool expected = std::any_of(wanted.begin(), wanted.end(),
                                          [&](const std::string& w) { return Names(a, w); });
        if (!expected) {
            surplus.push_back(a);
        }
    }
    const bool ok = match == Targets::Exact      ? missing.empty() && surplus.empty()
                    : match == Targets::Includes ? missing.empty()
                                                 : surplus.empty() && !actual.empty();
    return ok ? std::string()
              : "targets " + Joined(actual) + ", expected " + Joined(wanted) + " (missing " +
                    Joined(missing) + ", unexpected " + Joined(surplus) + ")";
}

using ScenarioProblems = LabTest;

TEST_F(ScenarioProblems, RunNamesTheScenariosProblemsWithTheirNextSteps) {
    const ConsoleRun& run = RunConsoleOnce();
    ASSERT_TRUE(run.result.is_object()) << run.output;
    EXPECT_EQ(run.schemaErrors, "");

    const std::string scenario = lab().Notes()["scenario"];
    const auto entry = Table().find(scenario);
    ASSERT_NE(entry, Table().end()) << "no line for " << scenario << " in the problems table";
    const std::vector<FoundProblem> found = FoundProblems(run.result);
    ScenarioLine line = entry->second;
    // The client itself runs in no lab but one with a stand-in: row 8 says so everywhere else,
    // wherever its prefix was found (without one there is no installed client to run).
    if (!lab().Notes().contains("clientUdpPort") && lab().Notes()["prefixLayout"] != "none") {
        line.must.push_back({"client_not_running", 8, {lab().Notes()["installWindows"]}});
    }

    std::set<std::string> allowed(line.may.begin(), line.may.end());
    std::set<std::string> mustFound;  // the codes both runs give, whatever the timing
    for (const Expected& expected : line.must) {
        const std::vector<std::string> codes = Split(expected.codes, '|');
        allowed.insert(codes.begin(), codes.end());
        std::vector<std::string> targets;
        bool present = false;
        for (const FoundProblem& problem : found) {
            if (std::count(codes.begin(), codes.end(), problem.code) > 0 &&
                (expected.row == 0 || expected.row == problem.row)) {
                present = true;
                mustFound.insert(problem.code);
                targets.insert(targets.end(), problem.targets.begin(), problem.targets.end());
            }
        }
        if (!present) {
            ADD_FAILURE() << "missing " << expected.codes
                          << (expected.row ? " on row " + std::to_string(expected.row) : "");
            continue;
        }
        if (expected.targets.empty()) {
            continue;
        }
        std::vector<std::string> wanted;
        for (const std::string& token : expected.targets) {
            const std::vector<std::string> expanded = Expand(token, lab());
            ASSERT_FALSE(expanded.empty()) << token << " names nothing in this lab";
            wanted.insert(wanted.end(), expanded.begin(), expanded.end());
        }
        const std::string mismatch = TargetMismatch(targets, wanted, expected.match);
        EXPECT_EQ(mismatch, "") << expected.codes;
    }

    for (const FoundProblem& problem : found) {
        EXPECT_EQ(allowed.count(problem.code), 1u) << "unexpected problem: " << problem.text;
        const auto code = ProblemCodeFromName(problem.code);
        ASSERT_TRUE(code.has_value()) << problem.text;
        EXPECT_FALSE(problem.advice.empty()) << problem.text;
        EXPECT_EQ(problem.advice, InfoOf(*code).advice) << problem.text;
        EXPECT_TRUE(InfoOf(*code).items.Contains(problem.row))
            << "not a row the catalogue gives its code: " << problem.text;
    }

    // The text output: the "建议" block exactly when the JSON names problems, with the next
    // step of every code the scenario must give that nothing of the run explains (a second
    // run in the same lab gives them too; the tolerated ones may depend on timing). What the
    // run explains stays in the JSON.
    const ConsoleRun text = RunConsole("");
    const auto block = text.output.find("\n建议\n");
    if (found.empty() || !mustFound.empty()) {
        EXPECT_EQ(block != std::string::npos, !found.empty()) << text.output;
    }
    if (block == std::string::npos) {
        return;
    }
    const std::string advice = text.output.substr(block);
    std::set<std::string> unexplained;
    for (const FoundProblem& problem : found) {
        if (!problem.explained) {
            unexplained.insert(problem.code);
        }
    }
    std::erase_if(mustFound, [&](const std::string& code) { return !unexplained.count(code); });
    for (const std::string& code : mustFound) {
        const auto info = ProblemCodeFromName(code);
        ASSERT_TRUE(info.has_value());
        EXPECT_NE(advice.find("- " + std::string(InfoOf(*info).advice)), std::string::npos)
            << code << "\n"
            << advice;
    }
}

}  // namespace
}  // namespace lumidex::labtest
