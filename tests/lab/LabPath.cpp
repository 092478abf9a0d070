// The path block of lumidex-console --json in the path scenarios' labs (and the healthy one):
// where the traced paths break, the loss problems, nothing where the path is sound.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "LabConsoleRun.h"
#include "LabFixture.h"

namespace lumidex::labtest {
namespace {

struct PathLine {
    // "local", "provider", "service"; empty: no trace may break; "*": any may, none must (on a
    // lossy link which probes are lost is chance).
    std::string breaksAt;
    // Codes, or alternatives "a|b", each given by at least one of the walks: a lossy link
    // loses a random share, which one burst of twenty may miss.
    std::vector<std::string> some{};
    std::vector<std::string> may{};  // tolerated besides
    bool gatewayLossless = false;
    bool bothWalks = false;  // false where the one-at-a-time walk waits minutes
};

const std::vector<std::string> kLossCodes = {
    "local_link_loss",     "local_link_jitter",       "udp_packet_loss",       "udp_jitter_high",
    "path_breaks_locally", "path_breaks_at_provider", "path_breaks_at_service"};

const std::map<std::string, PathLine>& Table() {
    static const std::map<std::string, PathLine> table = {
        {"healthy", {"", {}, {}, true, true}},
        {"path-provider-break", {"provider", {"path_breaks_at_provider"}}},
        {"path-local-break", {"local", {"path_breaks_locally"}}},
        {"path-service-silent", {"service", {"path_breaks_at_service"}, {}, true}},
        {"path-wifi-loss", {"*", {"local_link_loss|udp_packet_loss"}, kLossCodes}},
        // A router that never says time-exceeded is no break while the hosts answer.
        {"path-silent-hop", {"", {}, {}, true, true}},
    };
    return table;
}

std::vector<std::string> Split(const std::string& codes) {
    std::vector<std::string> parts;
    for (std::size_t at = 0; at <= codes.size();) {
        const std::size_t bar = std::min(codes.find('|', at), codes.size());
        parts.push_back(codes.substr(at, bar - at));
        at = bar + 1;
    }
    return parts;
}

// What one walk's path block gets wrong against LINE; codes collects its problems.
std::vector<std::string> Mismatches(const Json& path, const PathLine& line, const Lab& lab,
                                    std::set<std::string>& codes) {
    if (!path.is_object()) {
        return {"no path block"};
    }
    std::vector<std::string> wrong;
    const Json gateway = path.value("gateway", Json());
    if (!gateway.is_object() || gateway.value("sent", 0) == 0) {
        wrong.push_back("no gateway burst: " + gateway.dump());
    } else if (line.gatewayLossless && gateway.value("received", -1) != gateway.value("sent", 0)) {
        wrong.push_back("gateway loss: " + gateway.dump());
    }
    std::set<std::string> wheres;
    for (const Json& trace : path.value("traces", Json::array())) {
        const Json at = trace.value("breaks_at", Json());
        if (!at.is_object()) {
            continue;
        }
        const std::string where = at.value("where", "");
        wheres.insert(where);
        if (line.breaksAt == "*") {
            continue;
        }
        if (where != line.breaksAt) {
            wrong.push_back("a break at the " + where + ": " + trace.dump());
        }
        if (where == "local" && at.value("ttl", 0) == 1 &&
            at.value("address", "") != lab.Notes()["gateway"].get<std::string>()) {
            wrong.push_back("the first hop is not the gateway: " + trace.dump());
        }
        if (where == "provider" && at.value("ttl", 0) != std::stoi(lab.Setting("BREAK_AT")) + 1) {
            wrong.push_back("not the breaking router: " + trace.dump());
        }
    }
    if (!line.breaksAt.empty() && line.breaksAt != "*" && wheres.count(line.breaksAt) == 0) {
        wrong.push_back("no trace breaks at the " + line.breaksAt);
    }
    std::set<std::string> allowed(line.may.begin(), line.may.end());
    for (const std::string& codes : line.some) {
        for (const std::string& code : Split(codes)) {
            allowed.insert(code);
        }
    }
    for (const Json& problem : path.value("problems", Json::array())) {
        const std::string code = problem.value("code", "");
        codes.insert(code);
        if (allowed.count(code) == 0) {
            wrong.push_back("unexpected problem " + problem.dump());
        }
    }
    return wrong;
}

using PathQuality = LabTest;

TEST_F(PathQuality, TracesSayWhereThePathBreaksAndBurstsWhatItLoses) {
    const std::string scenario = lab().Notes()["scenario"];
    const auto entry = Table().find(scenario);
    ASSERT_NE(entry, Table().end()) << "no line for " << scenario << " in the path table";
    const PathLine& line = entry->second;
    std::vector<const ConsoleRun*> runs = {&RunConsoleOnce()};
    if (line.bothWalks) {
        runs.push_back(&RunOneAtATimeOnce());
    }
    std::set<std::string> codes;
    for (const ConsoleRun* run : runs) {
        ASSERT_TRUE(run->result.is_object()) << run->output;
        for (const std::string& wrong :
             Mismatches(run->result.value("path", Json()), line, lab(), codes)) {
            ADD_FAILURE() << (run == runs.front() ? "concurrent: " : "one at a time: ") << wrong;
        }
    }
    for (const std::string& some : line.some) {
        const std::vector<std::string> alternatives = Split(some);
        EXPECT_TRUE(std::any_of(alternatives.begin(), alternatives.end(),
                                [&](const std::string& code) { return codes.count(code) > 0; }))
            << "no walk gave " << some;
    }
}

}  // namespace
}  // namespace lumidex::labtest
