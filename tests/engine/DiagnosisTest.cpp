// Problems beside the rows: the slow-answer problems derived from a row's probes, and the
// next steps merged per code.
#include "engine/Diagnosis.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/DiagnosisText.h"

namespace lumidex {
namespace {

ProbeRecord Answer(ProbeKind kind, std::string target, double ms, std::string step = "echo") {
    return {kind, std::move(target), ProbeOutcome::Ok, ms, std::move(step)};
}

TEST(Diagnosis, SlowAnswersAddOneInfoProblemPerRuleWithTheSlowTargets) {
    struct Case {
        int itemId;
        std::vector<ProbeRecord> probes;
        std::vector<std::string> codes;  // with the targets of the first one
        std::vector<std::string> targets;
    } cases[] = {
        {2,
         {Answer(ProbeKind::Icmp, "10.0.0.1", 300), Answer(ProbeKind::Icmp, "10.0.0.1", 310)},
         {"gateway_slow"},
         {"10.0.0.1"}},
        {2, {Answer(ProbeKind::Icmp, "10.0.0.1", 100)}, {}, {}},  // at the threshold: not slow
        // A lost echo has no time, so it is never slow.
        {2, {{ProbeKind::Icmp, "10.0.0.1", ProbeOutcome::Timeout, std::nullopt, "echo"}}, {}, {}},
        {3,
         {Answer(ProbeKind::Icmp, "a", 250), Answer(ProbeKind::Icmp, "b", 5)},
         {"dns_server_slow"},
         {"a"}},
        // Slower than the gateway may be, but not than a DNS server.
        {3, {Answer(ProbeKind::Icmp, "a", 150)}, {}, {}},
        // Only the first byte of the list counts; a long total is a big list.
        {16,
         {Answer(ProbeKind::Http, "list", 9000, "total"),
          Answer(ProbeKind::Http, "list", 10, "first_byte")},
         {},
         {}},
        {16,
         {Answer(ProbeKind::Http, "list", 2500, "first_byte"), Answer(ProbeKind::Icmp, "h", 600)},
         {"service_host_slow", "channel_list_slow"},
         {"h"}},
        {18, {Answer(ProbeKind::Udp, "t1", 1500, "answer")}, {"tracker_slow"}, {"t1"}},
        // Rows without a rule: nothing derived.
        {9, {Answer(ProbeKind::Icmp, "x", 5000)}, {}, {}},
    };
    for (const Case& c : cases) {
        const std::vector<Problem> problems = RowProblems(c.itemId, {{}, c.probes});
        std::vector<std::string> codes;
        for (const Problem& problem : problems) {
            codes.emplace_back(InfoOf(problem.code).name);
            EXPECT_EQ(problem.severity, Severity::Info);
        }
        EXPECT_EQ(codes, c.codes) << "item " << c.itemId;
        if (!problems.empty()) {
            EXPECT_EQ(problems[0].targets, c.targets) << "item " << c.itemId;
        }
    }
}

TEST(Diagnosis, AdviceOncePerCodeWithEveryTargetOnce) {
    const std::vector<Problem> problems = {
        MakeProblem(ProblemCode::DnsServerUnreachable, {"10.0.0.2"}),
        MakeProblem(ProblemCode::BrowserOffline),
        MakeProblem(ProblemCode::DnsServerUnreachable, {"10.0.0.3", "10.0.0.2"}),
    };
    const std::vector<std::string> lines = AdviceLines(problems);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], std::string(InfoOf(ProblemCode::DnsServerUnreachable).advice) +
                            "（10.0.0.2, 10.0.0.3）");
    EXPECT_EQ(lines[1], InfoOf(ProblemCode::BrowserOffline).advice);
}

TEST(Diagnosis, CatalogueNamesAreUniqueSnakeCaseAndFoundByName) {
    std::set<std::string_view> names;
    for (const ProblemInfo& info : ProblemCatalog()) {
        EXPECT_TRUE(names.insert(info.name).second) << info.name;
        EXPECT_EQ(info.name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_"),
                  std::string_view::npos)
            << info.name;
        EXPECT_FALSE(info.advice.empty()) << info.name;
        EXPECT_EQ(ProblemCodeFromName(info.name), info.code);
    }
    EXPECT_EQ(ProblemCodeFromName("no_such_problem"), std::nullopt);
}

TEST(Diagnosis, RowsOutOfRangeAndRecordsPastTheBoundAreDropped) {
    RunDiagnosis diagnosis;
    diagnosis.AddProblem(-1, MakeProblem(ProblemCode::LinkDown));
    diagnosis.AddProblem(1 << 20, MakeProblem(ProblemCode::LinkDown));
    EXPECT_TRUE(diagnosis.Empty());
    for (int i = 0; i < 10000; ++i) {
        diagnosis.AddProbe(3, Answer(ProbeKind::Udp, "s", 1));
        diagnosis.AddProblem(3, MakeProblem(ProblemCode::HostsMapsProductDomain, {"h"}));
    }
    EXPECT_LE(diagnosis.Row(3).probes.size(), 512u);
    EXPECT_EQ(diagnosis.Row(3).problems.size(), kMaxProblemsPerRow);
    EXPECT_TRUE(diagnosis.Row(40).probes.empty());
}

// Whatever bytes a probe met, a row keeps well-formed UTF-8: a byte that starts no UTF-8
// sequence becomes U+FFFD in a problem's targets and detail and in a probe's target and step.
TEST(Diagnosis, StoredTextsAreWellFormedUtf8) {
    const std::string r = "\xEF\xBF\xBD";
    const struct {
        std::string bytes;
        std::string stored;
    } cases[] = {
        {"\xE7\x99\xBB.example", "\xE7\x99\xBB.example"},  // UTF-8 already
        {"a\xB5\xC7z", "a" + r + r + "z"},                 // GBK
        {"\xE6\x9C", r + r},                               // a cut sequence
        {"\xC0\xAF\xED\xA0\x80", r + r + r + r + r},       // overlong, surrogate
    };
    for (const auto& c : cases) {
        RunDiagnosis diagnosis;
        diagnosis.AddProblem(3, MakeProblem(ProblemCode::CaptivePortal, {c.bytes}, c.bytes));
        diagnosis.AddProbe(3, {ProbeKind::Http, c.bytes, ProbeOutcome::Ok, std::nullopt, c.bytes});
        const RowDiagnosis row = diagnosis.Row(3);
        EXPECT_EQ(row.problems.at(0).targets, std::vector<std::string>{c.stored});
        EXPECT_EQ(row.problems.at(0).detail, c.stored);
        EXPECT_EQ(row.probes.at(0).target, c.stored);
        EXPECT_EQ(row.probes.at(0).step, c.stored);
    }
}

// A row names each name that did not resolve in one problem: a join adds the targets not yet
// named and keeps the graver severity.
TEST(Diagnosis, JoinKeepsOneProblemPerCodeWithTheGraverSeverity) {
    RunDiagnosis diagnosis;
    diagnosis.JoinProblem(-1, MakeProblem(ProblemCode::DnsNotResolving, {"a"}));
    diagnosis.JoinProblem(16, MakeProblem(ProblemCode::DnsNotResolving, {"channel"}));
    diagnosis.JoinProblem(16, MakeProblem(ProblemCode::ListHostsUnreachable, {"list1"}));
    diagnosis.JoinProblem(
        16, MakeProblemAs(Severity::Warning, ProblemCode::DnsNotResolving, {"list1", "channel"}));
    diagnosis.JoinProblem(15,
                          MakeProblemAs(Severity::Warning, ProblemCode::DnsNotResolving, {"i"}));
    diagnosis.JoinProblem(15, MakeProblem(ProblemCode::DnsNotResolving, {"j"}));
    EXPECT_EQ(testing::ProblemTexts(diagnosis.Row(16)),
              (std::vector<std::string>{"error dns_not_resolving channel,list1",
                                        "error list_hosts_unreachable list1"}));
    EXPECT_EQ(testing::ProblemTexts(diagnosis.Row(15)),
              std::vector<std::string>{"error dns_not_resolving i,j"});
    EXPECT_TRUE(diagnosis.Row(0).problems.empty());
}

}  // namespace
}  // namespace lumidex
