// The service host probe inside a real run: a group's share, its icon, its findings and the
// counters, with scripted host tests; and the TCP test against loopback listeners.
#include "service/ServiceHostProbe.h"

#include <gtest/gtest.h>

#include <set>

#include "engine/FakeProbes.h"
#include "service/ServiceHostLists.h"
#include "support/LoopbackServer.h"

namespace lumidex {
namespace {

using testing::FakeService;
using testing::PhaseRun;

// The website group walks the given hosts through the real probe; the other groups are empty.
struct WebsiteGroup : FakeService {
    std::vector<std::string> web;
    std::set<std::string> failing;
    std::function<void()> onTest;
    ServiceHostLists lists;

    WebsiteGroup(std::vector<std::string> hostList, std::set<std::string> failingHosts)
        : web(std::move(hostList)), failing(std::move(failingHosts)) {
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
            return failing.count(host) == 0;
        };
        lumidex::ProbeServiceHosts(reporter, lists, itemName, web, mode, {test, test});
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
    };
    const Case cases[] = {
        {"1 of 3 fails", 3, {"h1.kelvora.com"}, "正常连接:67%", CheckStatus::Ok, 0, false},
        {"3 of 3 fail",
         3,
         {"h0.kelvora.com", "h1.kelvora.com", "h2.kelvora.com"},
         "正常连接:0%",
         CheckStatus::Error,
         1,
         true},
        {"1 of 7 fails", 7, {"h6.kelvora.com"}, "正常连接:86%", CheckStatus::Ok, 0, false},
        {"none fails", 3, {}, "正常连接:100%", CheckStatus::Ok, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PhaseRun run;
        auto probes = std::make_unique<WebsiteGroup>(Hosts(c.hosts), c.failing);
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
        EXPECT_EQ(run.LogLines().back(), "网站服务");
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

// "host:port" connects to that port; a bare host would use 80.
TEST(ServiceHostProbe, TcpTestUsesThePortBehindTheHost) {
    std::uint16_t port = 0;
    const platform::UniqueFd listener = testing::LoopbackListener(4, port);
    ASSERT_TRUE(listener);
    EXPECT_TRUE(TestTcpConnection(testing::LoopbackSite(port)));
    std::uint16_t closedPort = 0;
    const platform::UniqueFd bound = testing::LoopbackListener(-1, closedPort);
    EXPECT_FALSE(TestTcpConnection(testing::LoopbackSite(closedPort)));
}

}  // namespace
}  // namespace lumidex
