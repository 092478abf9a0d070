// The service host probe inside a real run: a group's share, its icon, its findings and the
// counters, with scripted host tests; and the TCP test against loopback listeners.
#include "service/ServiceHostProbe.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <thread>

#include "engine/Endpoints.h"
#include "engine/FakeProbes.h"
#include "platform/IcmpSocket.h"
#include "service/ServiceAhead.h"
#include "service/ServiceHostLists.h"
#include "support/DiagnosisText.h"
#include "support/LoopbackServer.h"

namespace lumidex {
namespace {

using testing::FakeService;
using testing::PhaseRun;

// The website group walks the given hosts through the real probe; the other groups are empty.
// An unresolved host fails at its look-up, recorded as the real test records it.
struct WebsiteGroup : FakeService {
    std::vector<std::string> web;
    std::set<std::string> failing;
    std::set<std::string> unresolved;
    std::function<void()> onTest;
    ServiceHostLists lists;

    WebsiteGroup(std::vector<std::string> hostList, std::set<std::string> failingHosts,
                 std::set<std::string> unresolvedHosts = {})
        : web(std::move(hostList)),
          failing(std::move(failingHosts)),
          unresolved(std::move(unresolvedHosts)) {
        hosts = {{HostGroup::Website, static_cast<int>(web.size())},
                 {HostGroup::Information, 0},
                 {HostGroup::List, 0}};
    }
    void ProbeServiceHosts(ProbeReporter& reporter, const std::string& itemName, HostGroup group,
                           HostTestMode mode) override {
        if (group != HostGroup::Website) {
            return;
        }
        const auto test = [this](const std::string& host) {
            if (onTest) {
                onTest();
            }
            if (unresolved.count(host) > 0) {
                RecordProbe({ProbeKind::Dns, host, ProbeOutcome::Error, std::nullopt, "lookup"});
                return false;
            }
            return failing.count(host) == 0;
        };
        lumidex::ProbeServiceHosts(reporter, lists, itemName, group, web, mode, {test, test});
    }
};

std::vector<std::string> Hosts(int count) {
    std::vector<std::string> hosts;
    for (int i = 0; i < count; ++i) {
        hosts.push_back("h" + std::to_string(i) + ".kelvora.com");
    }
    return hosts;
}

TEST(ServiceHostProbe, GroupShareIconFindingsAndCounters) {
    struct Case {
        const char* name;
        int hosts;
        std::set<std::string> failing;
        std::string detail;
        CheckStatus status;
        int errors;
        bool reportable;
        std::vector<std::string> problems;
        std::set<std::string> unresolved = {};  // failing at the look-up
    };
    const Case cases[] = {
        {"1 of 3 fails",
         3,
         {"h1.kelvora.com"},
         "正常连接:67%",
         CheckStatus::Ok,
         0,
         false,
         {"warning web_hosts_unreachable h1.kelvora.com"}},
        {"3 of 3 fail",
         3,
         {"h0.kelvora.com", "h1.kelvora.com", "h2.kelvora.com"},
         "正常连接:0%",
         CheckStatus::Error,
         1,
         true,
         {"error web_hosts_unreachable h0.kelvora.com,h1.kelvora.com,h2.kelvora.com"}},
        {"1 of 7 fails",
         7,
         {"h6.kelvora.com"},
         "正常连接:86%",
         CheckStatus::Ok,
         0,
         false,
         {"warning web_hosts_unreachable h6.kelvora.com"}},
        {"none fails", 3, {}, "正常连接:100%", CheckStatus::Ok, 0, false, {}},
        // Names that do not resolve: one problem for the row, as grave as the group's.
        {"2 of 3 do not resolve",
         3,
         {},
         "正常连接:34%",
         CheckStatus::Ok,
         0,
         false,
         {"warning web_hosts_unreachable h0.kelvora.com,h2.kelvora.com",
          "warning dns_not_resolving h0.kelvora.com,h2.kelvora.com"},
         {"h0.kelvora.com", "h2.kelvora.com"}},
        {"3 of 3 fail, 1 does not resolve",
         3,
         {"h0.kelvora.com", "h2.kelvora.com"},
         "正常连接:0%",
         CheckStatus::Error,
         1,
         true,
         {"error web_hosts_unreachable h0.kelvora.com,h1.kelvora.com,h2.kelvora.com",
          "error dns_not_resolving h1.kelvora.com"},
         {"h1.kelvora.com"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PhaseRun run;
        auto probes = std::make_unique<WebsiteGroup>(Hosts(c.hosts), c.failing, c.unresolved);
        CheckProbes all;
        all.service = std::move(probes);
        ASSERT_TRUE(run.Run(std::move(all)));
        EXPECT_EQ(run.RowOf(14).detail, c.detail);
        EXPECT_EQ(run.RowOf(14).status, c.status);
        EXPECT_EQ(run.Counters().errorCount, c.errors);
        EXPECT_EQ(run.Counters().reportable, c.reportable ? 1 : 0);
        const std::string findings = TheFindingsText().Text();
        EXPECT_NE(findings.find("\r\n网站服务检测"), std::string::npos);
        for (const std::string& host : c.failing) {
            EXPECT_NE(findings.find("\r\n连接失败:" + host), std::string::npos) << host;
        }
        for (const std::string& host : c.unresolved) {
            EXPECT_NE(findings.find("\r\n连接失败:" + host), std::string::npos) << host;
        }
        EXPECT_EQ(run.LogLines().back(), "网站服务");
        EXPECT_EQ(testing::ProblemTexts(TheRunDiagnosis().Row(run.window.Model().FindById(14))),
                  c.problems);
    }
}

TEST(ServiceHostProbe, EmptyGroupIsUntouchedAndAStopLeavesTheRestNormal) {
    {
        PhaseRun run;
        CheckProbes all;
        all.service =
            std::make_unique<WebsiteGroup>(std::vector<std::string>{}, std::set<std::string>{});
        ASSERT_TRUE(run.Run(std::move(all)));
        EXPECT_EQ(run.RowOf(14).status, CheckStatus::NotChecked);
        EXPECT_EQ(TheFindingsText().Text().find("网站服务检测"), std::string::npos);
        EXPECT_EQ(run.Counters().checkedCount, 6) << "counted although untouched";
        EXPECT_EQ(run.window.ProgressMaximum(), 2 + 6 + 1) << "no steps for empty groups";
    }
    {
        PhaseRun run;
        auto probes = std::make_unique<WebsiteGroup>(
            Hosts(10), std::set<std::string>{"h0.kelvora.com", "h1.kelvora.com"});
        probes->onTest = [&run] { run.window.StopEvent().Set(); };
        CheckProbes all;
        all.service = std::move(probes);
        ASSERT_TRUE(run.Run(std::move(all)));
        EXPECT_EQ(run.RowOf(14).detail, "正常连接:90%") << "one host tested, one failure";
        EXPECT_EQ(run.RowOf(15).status, CheckStatus::NotChecked);
        EXPECT_EQ(run.engine->Running(), 0);
    }
}

// Passes everything on; sets the stop button at the given progress step, so that a stop lands
// at the same place of the walk however the probes run.
class StopAtStep : public ProbeReporter {
public:
    StopAtStep(CheckEngine& engine, platform::Event& stop, int step)
        : m_engine(engine), m_stop(stop), m_step(step) {}
    RunCounters& Counters() override { return m_engine.Counters(); }
    int FindItemRow(int id) override { return m_engine.FindItemRow(id); }
    int FindItemRowByName(const std::string& name) override {
        return m_engine.FindItemRowByName(name);
    }
    void SetCurrentItem(int row) override { m_engine.SetCurrentItem(row); }
    void SetItemStatus(int row, CheckStatus status) override {
        m_engine.SetItemStatus(row, status);
    }
    void SetItemText(int row, int column, std::string_view text) override {
        m_engine.SetItemText(row, column, text);
    }
    void SetStatusText(std::string_view text) override { m_engine.SetStatusText(text); }
    void ShowWaitCursor(bool shown) override { m_engine.ShowWaitCursor(shown); }
    void SetProgressPos(int position) override {
        m_engine.SetProgressPos(position);
        if (position == m_step) {
            m_stop.Set();
        }
    }
    void EnsureItemVisible(int row) override { m_engine.EnsureItemVisible(row); }
    bool StopIfRequested() override { return m_engine.StopIfRequested(); }

private:
    CheckEngine& m_engine;
    platform::Event& m_stop;
    int m_step;
};

// The built-in groups through the real walk, one at a time or side by side (ServiceAhead),
// with scripted tests that write a log line each and answer last to first.
struct BuiltInGroups : FakeService {
    ServiceHostLists lists;
    std::set<std::string> failing;
    PhaseRun* run = nullptr;
    int stopAtStep = 0;
    std::unique_ptr<ServiceAhead> ahead;

    HostTests Tests() {
        const auto test = [this](const std::string& host) {
            const std::size_t at = host.find('.');
            std::this_thread::sleep_for(std::chrono::milliseconds(at == 0 ? 0 : 20 / at));
            Log("tested " + host);
            const bool answered = failing.count(host) == 0;
            RecordProbe({ProbeKind::Tcp, host, answered ? ProbeOutcome::Ok : ProbeOutcome::Timeout,
                         std::nullopt, "connect"});
            return answered;
        };
        return {test, test};
    }
    int HostCount(HostGroup group) override { return static_cast<int>(lists.Hosts(group).size()); }
    void StartAhead() override {
        ahead = std::make_unique<ServiceAhead>(
            lists, [](const std::string&, const std::string&) { return ChannelListResponse{}; },
            Tests(),
            AheadPlan{
                endpoints::kChannelListUrl,
                {HostTestMode::TcpConnection, HostTestMode::TcpConnection, HostTestMode::Ping},
                {kChannelServerSample, kTrackerSample}});
    }
    void FinishRun() override { ahead.reset(); }
    void ProbeServiceHosts(ProbeReporter& reporter, const std::string& itemName, HostGroup group,
                           HostTestMode mode) override {
        StopAtStep stopping(*run->engine, run->window.StopEvent(), stopAtStep);
        const std::vector<std::string>& hosts = lists.Hosts(group);
        if (ahead) {
            const HostOutcome outcome = ahead->HostOutcomes(group, mode, hosts);
            ASSERT_TRUE(outcome);
            WalkServiceHosts(stopping, lists, itemName, group, hosts, outcome);
        } else {
            lumidex::ProbeServiceHosts(stopping, lists, itemName, group, hosts, mode, Tests());
        }
        (void)reporter;
    }
};

TEST(ServiceHostProbe, SideBySideGroupsReportAsOneAtATime) {
    const struct {
        const char* name;
        std::set<std::string> failing;
        int stopAtStep;  // progress position; the hosts file takes step 1
    } cases[] = {
        {"all answer", {}, 0},
        {"some fail, a group wholly",
         {"search.kelvora.com", "tvguide.kelvora.com", "msg.kelvora.com", "notice.kelvora.com",
          "stat.kelvora.com", "snapshot.kelvora.com", "list2.kelvora.com"},
         0},
        {"stop between the second and third web host", {"www.kelvora.com"}, 3},
        {"stop inside the list group", {"list.kelvora.com"}, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        struct Result {
            std::vector<CheckRow> rows;
            std::vector<std::vector<std::string>> diagnosis;  // by row: problems, then probes
            std::vector<int> counters;
            std::vector<std::string> log;
            std::string findings;
        } results[2];
        for (const bool oneAtATime : {true, false}) {
            PhaseRun run;
            auto probes = std::make_unique<BuiltInGroups>();
            probes->failing = c.failing;
            probes->run = &run;
            probes->stopAtStep = c.stopAtStep;
            CheckProbes all;
            all.service = std::move(probes);
            ASSERT_TRUE(run.Run(std::move(all), false, oneAtATime));
            Result& result = results[oneAtATime ? 0 : 1];
            for (int id = 13; id <= 18; ++id) {
                result.rows.push_back(run.RowOf(id));
                const RowDiagnosis row = TheRunDiagnosis().Row(run.window.Model().FindById(id));
                std::vector<std::string> texts = testing::ProblemTexts(row);
                for (const ProbeRecord& probe : row.probes) {
                    texts.push_back(probe.target + " " +
                                    std::string(ProbeOutcomeName(probe.outcome)));
                }
                result.diagnosis.push_back(texts);
            }
            result.counters = {run.Counters().checkedCount, run.Counters().errorCount,
                               run.Counters().warningCount, run.Counters().reportable,
                               run.Counters().serviceProgress};
            result.log = run.LogLines();
            result.findings = TheFindingsText().Text();
        }
        for (std::size_t i = 0; i < results[0].rows.size(); ++i) {
            EXPECT_EQ(results[1].rows[i].detail, results[0].rows[i].detail) << i + 13;
            EXPECT_EQ(results[1].rows[i].status, results[0].rows[i].status) << i + 13;
        }
        EXPECT_EQ(results[1].diagnosis, results[0].diagnosis);
        EXPECT_EQ(results[1].diagnosis[1].back(),
                  c.stopAtStep == 3 ? "search.kelvora.com ok" : "club.kelvora.com ok")
            << "the website hosts' probes on their own row";
        EXPECT_EQ(results[1].counters, results[0].counters);
        EXPECT_EQ(results[1].log, results[0].log);
        EXPECT_EQ(results[1].findings, results[0].findings);
        if (c.stopAtStep == 3) {
            EXPECT_EQ(results[0].rows[1].detail, "正常连接:67%")
                << "untested hosts count as normal";
            EXPECT_EQ(results[0].rows[2].status, CheckStatus::NotChecked);
        }
    }
}

// "host:port" connects to that port; a bare host would use 80.
// A name is looked up before the connect, each recorded as a probe.
TEST(ServiceHostProbe, TcpTestUsesThePortBehindTheHost) {
    const testing::DiagnosisCapture diagnosis;
    std::uint16_t port = 0;
    const platform::UniqueFd listener = testing::LoopbackListener(4, port);
    ASSERT_TRUE(listener);
    EXPECT_TRUE(TestTcpConnection(testing::LoopbackSite(port)));
    EXPECT_TRUE(TestTcpConnection("localhost:" + std::to_string(port)));
    std::uint16_t closedPort = 0;
    const platform::UniqueFd bound = testing::LoopbackListener(-1, closedPort);
    EXPECT_FALSE(TestTcpConnection(testing::LoopbackSite(closedPort)));
    // A name that does not resolve (the empty one asks no resolver) is its look-up alone; the
    // walk makes the row's problem of every such name.
    EXPECT_FALSE(TestTcpConnection(""));
    EXPECT_EQ(
        diagnosis.Probes(),
        (std::vector<std::string>{"tcp connect ok rtt", "dns lookup ok rtt", "tcp connect ok rtt",
                                  "tcp connect refused", "dns lookup error"}));
    EXPECT_EQ(diagnosis.Row().probes.at(2).target, "localhost:" + std::to_string(port));
    EXPECT_TRUE(diagnosis.Problems().empty());
}

// An address is pinged without a look-up, each echo recorded.
TEST(ServiceHostProbe, PingRecordsEachEcho) {
    if (platform::OpenIcmpSocket(platform::IcmpSocketPolicy::Any).kind ==
        platform::IcmpSocketKind::None) {
        GTEST_SKIP() << "no ICMP socket may be opened here";
    }
    const testing::DiagnosisCapture diagnosis;
    EXPECT_TRUE(PingServiceHost("127.0.0.1"));
    EXPECT_EQ(diagnosis.Probes(), std::vector<std::string>(3, "icmp echo ok rtt"));
}

}  // namespace
}  // namespace lumidex
