// A network that lies, end to end: the captive portal, the resolver that answers every name
// and the sites that only redirect to their other name. The rows are those of an honest
// network (other suites check them); here the problems beside them, in both walks, and the
// one line of the notes.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "LabConsoleRun.h"
#include "LabFixture.h"

namespace lumidex::labtest {
namespace {

// Item id -> problem code -> its targets, for the codes these detections give.
using Found = std::map<int, std::map<std::string, Json>>;

const std::set<std::string> kCodes = {"captive_portal", "channel_list_intercepted",
                                      "dns_answers_nonexistent_names", "product_names_hijacked"};

Found Interceptions(const Json& result) {
    Found found;
    for (const Json& row : result["rows"]) {
        for (const Json& problem : row.value("problems", Json::array())) {
            if (kCodes.count(problem["code"]) > 0) {
                found[row["id"].get<int>()][problem["code"]] = problem;
            }
        }
    }
    return found;
}

using InterceptionProblems = LabTest;
TEST_F(InterceptionProblems, ProblemsBesideTheRowsAndTheNotesLineInBothWalks) {
    const std::string scenario = lab().Notes()["scenario"];
    const std::string portal = "login.portal.lab";
    for (const ConsoleRun* run : {&RunConsoleOnce(), &RunOneAtATimeOnce()}) {
        SCOPED_TRACE(run == &RunConsoleOnce() ? "side by side" : "one at a time");
        const Json& result = run->result;
        ASSERT_TRUE(result.is_object());
        const Found found = Interceptions(result);
        const std::string summary = result["summary"];
        const std::string notesLine = "\r\n检测到网络需要登录认证(" + portal + ")";
        const bool portalLine =
            summary.size() >= notesLine.size() &&
            summary.compare(summary.size() - notesLine.size(), notesLine.size(), notesLine) == 0;
        if (scenario == "captive-portal" || scenario == "portal-gbk") {
            const std::string address = lab().Notes()["portal"]["address"];
            ASSERT_EQ(found.size(), 4u) << result.dump();
            const Json& captive = found.at(7).at("captive_portal");
            EXPECT_EQ(captive["targets"], Json::array({portal}));
            EXPECT_EQ(captive["detail"].get<std::string>().rfind("http://" + portal + "/login?", 0),
                      0u);
            EXPECT_EQ(captive["severity"], "error");
            EXPECT_FALSE(captive["advice"].get<std::string>().empty());
            EXPECT_EQ(found.at(16).at("channel_list_intercepted")["targets"],
                      Json::array({portal}));
            EXPECT_EQ(found.at(3).at("dns_answers_nonexistent_names")["targets"],
                      Json::array({address}));
            const Json& hijacked = found.at(13).at("product_names_hijacked");
            EXPECT_EQ(hijacked["detail"], address);
            EXPECT_EQ(hijacked["targets"].size(), 14u) << hijacked.dump();
            EXPECT_EQ(hijacked["targets"][0], "channel.kelvora.com");
            EXPECT_TRUE(portalLine) << summary;
            if (scenario == "portal-gbk") {
                // The home pages decide, and the URL in the GBK page ends before its
                // full-width comma; the 302 with raw bytes in its Location went to the list.
                EXPECT_EQ(captive["detail"], "http://" + portal + "/login?from=gbk");
                EXPECT_EQ(found.at(16).at("channel_list_intercepted")["detail"],
                          "http://" + portal + "/login?from=gbk");
            }
            continue;
        }
        EXPECT_FALSE(portalLine) << summary;
        if (scenario == "nxdomain-hijack") {
            ASSERT_EQ(found.size(), 1u) << result.dump();
            EXPECT_EQ(found.at(3).at("dns_answers_nonexistent_names")["targets"],
                      Json::array({lab().Notes()["dnsUnknown"]}));
            continue;
        }
        // portal-false-friend and healthy: sites that redirect to their own other name, or do
        // not answer at all, are no portal, and an honest resolver raises nothing; nor does
        // one behind a search domain whose wildcard answers every relative name
        // (dns-search-wildcard).
        EXPECT_TRUE(found.empty()) << result.dump();
    }
}

}  // namespace
}  // namespace lumidex::labtest
