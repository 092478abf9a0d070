// What explains what: the table covers the catalogue and has no cycle, each rule explains
// what it says, and the runs the window and console must answer with one cause do.
#include "engine/ProblemExplanations.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace lumidex {
namespace {

using enum ProblemCode;

std::string Name(ProblemCode code) {
    return std::string(InfoOf(code).name);
}

// True when following explains from some code comes back to it.
bool HasCycle(const std::vector<ProblemCode>& codes,
              const std::function<bool(ProblemCode, ProblemCode)>& explains) {
    enum Mark { kNew, kOpen, kDone };
    std::vector<Mark> marks(codes.size(), kNew);
    std::function<bool(std::size_t)> visit = [&](std::size_t at) {
        marks[at] = kOpen;
        for (std::size_t next = 0; next < codes.size(); ++next) {
            if (!explains(codes[at], codes[next])) {
                continue;
            }
            if (marks[next] == kOpen || (marks[next] == kNew && visit(next))) {
                return true;
            }
        }
        marks[at] = kDone;
        return false;
    };
    for (std::size_t at = 0; at < codes.size(); ++at) {
        if (marks[at] == kNew && visit(at)) {
            return true;
        }
    }
    return false;
}

TEST(ProblemExplanations, EveryCodeIsListedOnceAndEveryNeedHasARule) {
    std::set<ProblemCode> listed;
    for (const ProblemNeeds& entry : ProblemNeedsTable()) {
        EXPECT_TRUE(listed.insert(entry.code).second) << Name(entry.code) << " listed twice";
    }
    unsigned takenAway = 0;
    for (const ExplanationRule& rule : ExplanationRules()) {
        EXPECT_FALSE(rule.reason.empty()) << Name(rule.cause);
        EXPECT_EQ(NeedsOf(rule.cause) & rule.takesAway, 0u)
            << Name(rule.cause) << " would explain itself";
        takenAway |= rule.takesAway;
    }
    for (const ProblemInfo& info : ProblemCatalog()) {
        EXPECT_EQ(listed.count(info.code), 1u) << info.name << " is in no line of the table";
        // A need no rule takes away would leave the code explained by nothing, unmarked.
        EXPECT_EQ(NeedsOf(info.code) & ~takenAway, 0u) << info.name;
    }
}

TEST(ProblemExplanations, TheTableHasNoCycle) {
    std::vector<ProblemCode> codes;
    for (const ProblemInfo& info : ProblemCatalog()) {
        codes.push_back(info.code);
    }
    EXPECT_FALSE(HasCycle(codes, Explains));
    // The check itself sees a cycle where there is one.
    const auto twoWays = [](ProblemCode a, ProblemCode b) {
        return (a == LinkDown && b == DnsNotResolving) || (a == DnsNotResolving && b == LinkDown);
    };
    EXPECT_TRUE(HasCycle(codes, twoWays));
}

// One line per rule: something it explains, and something beside it that it does not.
TEST(ProblemExplanations, EachRuleExplainsWhatItTakesAway) {
    struct Case {
        ProblemCode cause, explained, notExplained;
    };
    const Case cases[] = {
        {LinkDown, NoLocalAddress, BrowserOffline},
        {NoLocalAddress, GatewayNotConfigured, LinkDown},
        {GatewayNotConfigured, DnsServerUnreachable, DnsNotConfigured},
        {GatewayUnreachable, DnsServerUnreachable, InternetUnreachable},
        {DnsNotConfigured, DnsNotResolving, GatewayUnreachable},
        {DnsServerUnreachable, DnsNotResolving, WebHostsUnreachable},
        {DnsNotResolving, WebHostsUnreachable, ChannelServersSilent},
        {HostsMapsWrongAddress, ChannelListUnreachable, ChannelListHttpError},
        {ProductNamesHijacked, WebHostsUnreachable, DnsAnswersNonexistentNames},
        {InternetUnreachable, TrackersSilent, DnsServerUnreachable},
        {CaptivePortal, ChannelListIntercepted, InternetUnreachable},
        {CaptivePortal, DnsAnswersNonexistentNames, GatewayUnreachable},
        {ChannelListUnreachable, NoTrackersListed, TrackersSilent},
        {ChannelListHttpError, NoChannelServersListed, ChannelServersSilent},
        {ChannelListMalformed, NoTrackersListed, TrackerSlow},
        {ChannelListIntercepted, NoChannelServersListed, ChannelListHttpError},
        {PlayerMissing, AsxNotAssociated, AsxOtherPlayer},
        {ClientPrefixNotFound, PlayerMissing, BrowserOffline},
        {ClientPrefixNotFound, ClientNotRunning, ClientInSeveralPrefixes},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(Explains(c.cause, c.explained)) << Name(c.cause) << " " << Name(c.explained);
        EXPECT_FALSE(Explains(c.cause, c.notExplained))
            << Name(c.cause) << " " << Name(c.notExplained);
    }
    EXPECT_FALSE(Explains(DnsNotResolving, DnsNotResolving)) << "a code explains no twin of it";
}

struct P {
    ProblemCode code;
    int row;
    Severity severity = Severity::Error;
};

std::vector<RunProblem> RunOf(const std::vector<P>& listed) {
    std::vector<RunProblem> run;
    for (const P& p : listed) {
        run.push_back({p.row, MakeProblemAs(p.severity, p.code, {"t" + std::to_string(p.row)})});
    }
    return run;
}

std::set<std::string> PrimaryCodes(const RunExplanation& explanation) {
    std::set<std::string> codes;
    for (const PrimaryCause& cause : explanation.primary) {
        codes.insert(Name(cause.problem.code));
    }
    return codes;
}

constexpr Severity kInfo = Severity::Info;
constexpr Severity kWarning = Severity::Warning;

// Nothing of the services answers: what every run cut off below the Internet row shows.
std::vector<P> NoServices(std::vector<P> below) {
    below.insert(below.end(), {{InternetUnreachable, 7},
                               {WebHostsUnreachable, 14},
                               {InformationHostsUnreachable, 15},
                               {ListHostsUnreachable, 16},
                               {ChannelListUnreachable, 16},
                               {NoChannelServersListed, 17},
                               {NoTrackersListed, 18},
                               {ClientNotRunning, 8, kInfo}});
    return below;
}

std::vector<P> NoNames(std::vector<P> below) {
    below.insert(below.end(),
                 {{DnsNotResolving, 14}, {DnsNotResolving, 15}, {DnsNotResolving, 16}});
    return NoServices(std::move(below));
}

TEST(ProblemExplanations, RunsNameTheirPrimaryCauses) {
    struct Case {
        const char* run;
        std::vector<P> problems;
        std::set<std::string> primary;
        std::vector<std::pair<ProblemCode, ProblemCode>> causedBy;  // problem, nearest cause
    };
    const Case cases[] = {
        {"link down",
         NoNames({{LinkDown, 6},
                  {NoLocalAddress, 1},
                  {GatewayNotConfigured, 2},
                  {DnsServerUnreachable, 3, kWarning}}),
         {"link_down"},
         {{NoLocalAddress, LinkDown}, {GatewayNotConfigured, NoLocalAddress}}},
        {"no default route",
         NoNames({{LocalAddressFromHostName, 1, kInfo},
                  {GatewayNotConfigured, 2},
                  {DnsServerUnreachable, 3, kWarning}}),
         {"gateway_not_configured"},
         {{DnsNotResolving, DnsServerUnreachable}, {InternetUnreachable, DnsNotResolving}}},
        {"captive portal",
         {{DnsAnswersNonexistentNames, 3, kWarning},
          {CaptivePortal, 7},
          {ProductNamesHijacked, 13},
          {ChannelListHttpError, 16},
          {ChannelListIntercepted, 16},
          {NoChannelServersListed, 17},
          {NoTrackersListed, 18}},
         {"captive_portal"},
         {{NoTrackersListed, ChannelListHttpError}, {ProductNamesHijacked, CaptivePortal}}},
        {"everything past the gateway silent",
         NoServices({{GatewayUnreachable, 2, kWarning}, {DnsServerUnreachable, 3, kWarning}}),
         {"gateway_unreachable", "internet_unreachable"},
         {{NoChannelServersListed, ChannelListUnreachable},
          {WebHostsUnreachable, InternetUnreachable}}},
        {"only the services fail",
         {{WebHostsUnreachable, 14}, {InformationHostsUnreachable, 15}, {ListHostsUnreachable, 16}},
         {"web_hosts_unreachable", "information_hosts_unreachable", "list_hosts_unreachable"},
         {}},
        {"no prefix",
         {{ClientPrefixNotFound, 8, kWarning},
          {PlayerMissing, 9},
          {AsfNotAssociated, 10, kWarning},
          {AsxNotAssociated, 11, kWarning},
          {ClientNotRunning, 8, kInfo}},
         {"client_prefix_not_found"},
         {{AsfNotAssociated, PlayerMissing}, {ClientNotRunning, ClientPrefixNotFound}}},
        {"healthy, the client not started", {{ClientNotRunning, 8, kInfo}}, {}, {}},
        {"healthy", {}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.run);
        const RunExplanation explanation = ExplainRun(RunOf(c.problems));
        EXPECT_EQ(PrimaryCodes(explanation), c.primary);
        ASSERT_EQ(explanation.problems.size(), c.problems.size());
        int unexplained = 0;
        for (const ExplainedProblem& problem : explanation.problems) {
            unexplained += problem.causedBy ? 0 : 1;
            for (const auto& [code, cause] : c.causedBy) {
                if (problem.problem.code == code) {
                    EXPECT_EQ(problem.causedBy, cause) << Name(code);
                }
            }
        }
        EXPECT_EQ(explanation.explained + unexplained, static_cast<int>(c.problems.size()));
        EXPECT_EQ(explanation.primary.size() + explanation.others.size(),
                  static_cast<std::size_t>(unexplained));
    }
}

TEST(ProblemExplanations, APrimaryCountsWhatItExplainsOnceThroughEveryChain) {
    // Three rows' names unresolved under one missing DNS server: each service problem is
    // reached through three of them and still counts once.
    const RunExplanation explanation = ExplainRun(RunOf(NoNames({{DnsNotConfigured, 3}})));
    ASSERT_EQ(explanation.primary.size(), 1u);
    EXPECT_EQ(explanation.primary[0].explains, 10);
    EXPECT_EQ(explanation.explained, 10);
    ASSERT_EQ(explanation.others.size(), 1u);  // the client not started

    const std::vector<PrimaryAdvice> advice = PrimaryAdviceLines(explanation);
    ASSERT_EQ(advice.size(), 1u);
    EXPECT_EQ(advice[0].line, std::string(InfoOf(DnsNotConfigured).advice) + "（t3）");
    EXPECT_EQ(advice[0].explains, 10);

    // Two primaries of one code: one line, their targets joined, the shared problems once.
    const RunExplanation twins = ExplainRun(
        RunOf({{DnsNotResolving, 14}, {DnsNotResolving, 15}, {WebHostsUnreachable, 14}}));
    const std::vector<PrimaryAdvice> joined = PrimaryAdviceLines(twins);
    ASSERT_EQ(joined.size(), 1u);
    EXPECT_EQ(joined[0].line, std::string(InfoOf(DnsNotResolving).advice) + "（t14, t15）");
    EXPECT_EQ(joined[0].explains, 1);

    // A hosts file's hundreds of wrong mappings, each a primary: one line, the host once.
    std::vector<P> mappings(kMaxProblemsPerRow, P{HostsMapsWrongAddress, 13});
    mappings.push_back({WebHostsUnreachable, 14});
    const RunExplanation hosts = ExplainRun(RunOf(mappings));
    EXPECT_EQ(hosts.primary.size(), kMaxProblemsPerRow);
    EXPECT_EQ(hosts.explained, 1);
    ASSERT_EQ(PrimaryAdviceLines(hosts).size(), 1u);
    EXPECT_EQ(PrimaryAdviceLines(hosts)[0].explains, 1);
}

}  // namespace
}  // namespace lumidex
