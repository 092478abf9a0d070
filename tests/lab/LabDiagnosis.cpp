// What each scenario's run names as its primary causes, in both walks: one line per scenario,
// read against the "diagnosis" and "caused_by" of lumidex-console --json in its lab.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "LabConsoleRun.h"
#include "LabFixture.h"

namespace lumidex::labtest {
namespace {

struct DiagnosisLine {
    // The primary codes allowed; with exact, the primary codes are these, all of them.
    std::set<std::string> primary;
    bool exact = true;
    // Rows (item ids; 0 the blocks beside the rows) each of whose problems must be explained,
    // those of a primary code aside.
    std::set<int> explainedRows{};
};

// Every row that needs the network: the address, the way out, the Internet, the services.
const std::set<int> kNetworkRows = {0, 1, 2, 3, 5, 6, 7, 13, 14, 15, 16, 17, 18};
// What lies past the gateway: the service hosts, servers and the blocks beside the rows.
const std::set<int> kPastGateway = {0, 13, 14, 15, 16, 17, 18};

const std::map<std::string, DiagnosisLine>& Table() {
    static const std::map<std::string, DiagnosisLine> table = {
        {"link-down", {{"link_down", "no_local_address"}, false, kNetworkRows}},
        {"no-route", {{"gateway_not_configured"}, true, kNetworkRows}},
        {"captive-portal", {{"captive_portal"}, true, kNetworkRows}},
        {"portal-gbk", {{"captive_portal"}, true, kNetworkRows}},
        {"all-silent", {{"internet_unreachable", "gateway_unreachable"}, false, kPastGateway}},
        {"no-internet", {{"internet_unreachable"}, true, kPastGateway}},
        {"services-down",
         {{"web_hosts_unreachable", "information_hosts_unreachable", "list_hosts_unreachable"}}},
        // Without the client's prefix every software row's problem goes back to it; without
        // the player, to the player.
        {"no-prefix", {{"client_prefix_not_found"}, true, {8, 9, 10, 11, 12}}},
        {"no-wmp", {{"player_missing", "asx_other_player"}, false, {10, 11}}},
        {"healthy", {{}}},
    };
    return table;
}

// Scenarios whose one-at-a-time walk is not repeated here, with the reason: the diagnosis is
// made from the rows' problems alone, and BothWays already finds those the same in both walks.
const std::map<std::string, std::string> kOneWalkOnly = {
    {"all-silent", "its one-at-a-time walk alone takes three and a half minutes"},
    {"services-down", "its one-at-a-time walk waits about two minutes"},
};

void CheckDiagnosis(const ConsoleRun& run, const DiagnosisLine& line) {
    ASSERT_TRUE(run.result.is_object()) << run.output;
    EXPECT_EQ(run.schemaErrors, "");
    const Json& diagnosis = run.result["diagnosis"];
    ASSERT_TRUE(diagnosis.is_object()) << run.output;

    std::set<std::string> primary;
    for (const Json& cause : diagnosis["primary"]) {
        primary.insert(cause["code"].get<std::string>());
        EXPECT_EQ(line.primary.count(cause["code"]), 1u) << "unexpected primary cause " << cause;
    }
    if (line.exact) {
        EXPECT_EQ(primary, line.primary);
    } else if (!line.primary.empty()) {
        EXPECT_FALSE(primary.empty()) << diagnosis;
    }

    int explained = 0;
    for (const Json& row : run.result["rows"]) {
        const int id = row["id"];
        for (const Json& problem : row["problems"]) {
            const bool hasCause = problem.contains("caused_by");
            explained += hasCause ? 1 : 0;
            if (line.explainedRows.count(id) > 0 && line.primary.count(problem["code"]) == 0) {
                EXPECT_TRUE(hasCause) << "row " << id << ": nothing explains " << problem;
            }
            if (line.primary.count(problem["code"]) > 0 && line.exact) {
                EXPECT_FALSE(hasCause) << "a primary cause explained: " << problem;
            }
        }
    }
    // The P2P block's problems are explained with the rows' (a cut link explains them too).
    if (const Json p2p = run.result.value("p2p", Json()); p2p.is_object()) {
        for (const Json& problem : p2p["problems"]) {
            explained += problem.contains("caused_by") ? 1 : 0;
        }
    }
    EXPECT_EQ(diagnosis["explained"], explained);
}

using ScenarioDiagnosis = LabTest;

TEST_F(ScenarioDiagnosis, PrimaryCausesAreTheScenariosOwnInBothWalks) {
    const std::string scenario = lab().Notes()["scenario"];
    const auto entry = Table().find(scenario);
    ASSERT_NE(entry, Table().end()) << "no line for " << scenario << " in the diagnosis table";
    {
        SCOPED_TRACE("side by side");
        CheckDiagnosis(RunConsoleOnce(), entry->second);
    }
    if (const auto skipped = kOneWalkOnly.find(scenario); skipped != kOneWalkOnly.end()) {
        GTEST_SKIP() << "one at a time: " << skipped->second;
    }
    SCOPED_TRACE("one at a time");
    CheckDiagnosis(RunOneAtATimeOnce(), entry->second);
}

}  // namespace
}  // namespace lumidex::labtest
