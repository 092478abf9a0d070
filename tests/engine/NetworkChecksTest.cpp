// The basic network rows against scripted probes: every outcome's detail, icon, counter,
// log line, findings line and reportable flag.
#include <gtest/gtest.h>

#include <functional>

#include "FakeProbes.h"
#include "engine/Diagnosis.h"

namespace lumidex {
namespace {

using testing::FakeNetwork;
using testing::PhaseRun;

struct Outcome : testing::RowOutcome<FakeNetwork> {
    std::string logLine;  // the outcome's own log line, "" for none
    bool reportable;
    std::vector<std::string> problems;  // the row's, as testing::ProblemTexts writes them
};

const std::vector<Outcome>& Outcomes() {
    static const std::vector<Outcome> outcomes = {
        {"adapter address",
         [](FakeNetwork&) {},
         1,
         "192.0.2.10",
         CheckStatus::Ok,
         0,
         0,
         "本地IP:192.0.2.10",
         false,
         {}},
        {"address from the host name",
         [](FakeNetwork& n) {
             n.localIp.clear();
             n.selfIp = "192.0.2.99";
         },
         1,
         "192.0.2.99",
         CheckStatus::Ok,
         0,
         0,
         "CTqGlobalMothed::GetSelfIP()本地IP:192.0.2.99",
         false,
         {"info local_address_from_host_name 192.0.2.99"}},
        {"no address",
         [](FakeNetwork& n) { n.localIp.clear(); },
         1,
         "获取本地IP失败",
         CheckStatus::Error,
         0,
         0,
         "",
         false,
         {"error no_local_address"}},
        {"gateway answers",
         [](FakeNetwork&) {},
         2,
         "连接正常(192.0.2.1)",
         CheckStatus::Ok,
         0,
         0,
         "",
         false,
         {}},
        {"gateway loses echoes",
         [](FakeNetwork& n) { n.gatewayReplies = 2; },
         2,
         "连接正常(192.0.2.1)",
         CheckStatus::Ok,
         0,
         0,
         "",
         false,
         {"info gateway_packet_loss 192.0.2.1 (2/3)"}},
        {"gateway silent",
         [](FakeNetwork& n) { n.gatewayReplies = 0; },
         2,
         "连接超时(192.0.2.1)",
         CheckStatus::Warning,
         0,
         1,
         "",
         false,
         {"warning gateway_unreachable 192.0.2.1"}},
        {"no gateway",
         [](FakeNetwork& n) { n.gateway.clear(); },
         2,
         "获取默认网关失败",
         CheckStatus::Error,
         1,
         0,
         "获取默认网关失败",
         false,
         {"error gateway_not_configured"}},
        {"dns answers",
         [](FakeNetwork&) {},
         3,
         "连接正常(192.0.2.53,192.0.2.54)",
         CheckStatus::Ok,
         0,
         0,
         "",
         false,
         {}},
        {"one dns server of two silent",
         [](FakeNetwork& n) { n.silentDns = {"192.0.2.54"}; },
         3,
         "连接正常(192.0.2.53,192.0.2.54)",
         CheckStatus::Ok,
         0,
         0,
         "",
         false,
         {"info dns_server_unreachable 192.0.2.54"}},
        {"dns silent",
         [](FakeNetwork& n) {
             n.dnsReplies = 0;
             n.silentDns = {"192.0.2.53", "192.0.2.54"};
         },
         3,
         "连接超时(192.0.2.53,192.0.2.54)",
         CheckStatus::Warning,
         0,
         1,
         "连接超时(192.0.2.53,192.0.2.54)",
         true,
         {"warning dns_server_unreachable 192.0.2.53",
          "warning dns_server_unreachable 192.0.2.54"}},
        {"no dns",
         [](FakeNetwork& n) {
             n.dnsReplies = 0;
             n.dnsText.clear();
         },
         3,
         "获取DNS服务器失败",
         CheckStatus::Error,
         1,
         0,
         "获取DNS服务器失败",
         true,
         {"error dns_not_configured"}},
        {"ie offline",
         [](FakeNetwork& n) { n.offline = true; },
         4,
         "IE处于脱机状态",
         CheckStatus::Warning,
         0,
         1,
         "IE处于脱机状态",
         true,
         {"warning browser_offline"}},
        {"ie online",
         [](FakeNetwork&) {},
         4,
         "IE未处于脱机状态",
         CheckStatus::Ok,
         0,
         0,
         "",
         false,
         {}},
        {"no proxy",
         [](FakeNetwork&) {},
         5,
         "未设置IE代理服务器",
         CheckStatus::Ok,
         0,
         0,
         "",
         false,
         {}},
        {"proxy reachable",
         [](FakeNetwork& n) {
             n.proxySet = 1;
             n.proxyReachable = 1;
             n.proxyText = "192.0.2.8:3128";
         },
         5,
         "IE代理服务器已设置且能连接",
         CheckStatus::Ok,
         0,
         0,
         "",
         false,
         {}},
        {"proxy dead",
         [](FakeNetwork& n) {
             n.proxySet = 1;
             n.proxyText = "192.0.2.8:3128";
         },
         5,
         "IE代理服务器无法连接",
         CheckStatus::Error,
         1,
         0,
         "IE代理服务器无法连接",
         true,
         {"error proxy_unreachable 192.0.2.8:3128"}},
        {"proxy without a server",
         [](FakeNetwork& n) { n.proxySet = 1; },
         5,
         "IE代理服务器无法连接",
         CheckStatus::Error,
         1,
         0,
         "IE代理服务器无法连接",
         true,
         {"error proxy_empty"}},
        {"dial-up",
         [](FakeNetwork& n) { n.connectionState = 1; },
         6,
         "拨号连接成功",
         CheckStatus::Ok,
         0,
         0,
         "",
         false,
         {}},
        {"lan", [](FakeNetwork&) {}, 6, "连接成功", CheckStatus::Ok, 0, 0, "", false, {}},
        {"lan beside a dial-up still dialling",
         [](FakeNetwork& n) { n.dialling = "ppp0"; },
         6,
         "连接成功",
         CheckStatus::Ok,
         0,
         0,
         "",
         false,
         {"info dialup_not_connected ppp0"}},
        {"connection broken",
         [](FakeNetwork& n) { n.connectionState = -1; },
         6,
         "本地连接中断",
         CheckStatus::Error,
         1,
         0,
         "本地连接中断",
         true,
         {"error link_down"}},
        {"only a dial-up, still dialling",
         [](FakeNetwork& n) {
             n.connectionState = -1;
             n.dialling = "ppp0";
         },
         6,
         "本地连接中断",
         CheckStatus::Error,
         1,
         0,
         "本地连接中断",
         true,
         {"error link_down", "warning dialup_not_connected ppp0"}},
        {"one site of ten",
         [](FakeNetwork& n) {
             n.internetPercent = 10;
             n.unreachedSites = {"a.example", "b.example"};
         },
         7,
         "连接成功",
         CheckStatus::Ok,
         0,
         0,
         "",
         false,
         {"warning internet_partial a.example,b.example"}},
        {"no site",
         [](FakeNetwork& n) { n.internetPercent = 0; },
         7,
         "Internet连接中断",
         CheckStatus::Error,
         1,
         0,
         "Internet连接中断",
         true,
         {"error internet_unreachable"}},
    };
    return outcomes;
}

TEST(NetworkChecks, EachOutcomeOfTheSevenRows) {
    for (const Outcome& o : Outcomes()) {
        SCOPED_TRACE(o.name);
        auto network = std::make_unique<FakeNetwork>();
        o.setUp(*network);
        // Every run that finds an address logs it; a problem adds its own line to the log
        // and the findings.
        std::vector<std::string> expectedLog;
        if (!network->localIp.empty()) {
            expectedLog.push_back("本地IP:" + network->localIp);
        } else if (!network->selfIp.empty()) {
            expectedLog.push_back("CTqGlobalMothed::GetSelfIP()本地IP:" + network->selfIp);
        }
        std::string expectedFindings = "\r\n开始基本网络检测";
        if (o.id != 1 && !o.logLine.empty()) {
            expectedLog.push_back(o.logLine);
            expectedFindings += "\r\n" + o.logLine;
        }
        PhaseRun run;
        CheckProbes probes;
        probes.network = std::move(network);
        ASSERT_TRUE(run.Run(std::move(probes)));

        testing::ExpectOutcome(run, o, 7, o.reportable);
        EXPECT_EQ(run.LogLines(), expectedLog);
        EXPECT_EQ(TheFindingsText().Text(), expectedFindings);
        EXPECT_EQ(testing::ProblemTexts(run.DiagnosisOf(o.id)), o.problems);
    }
}

// Side by side, the waiting probes answer last to first; the rows, counters, log, findings
// and each row's problems and probes are still those of the one-at-a-time walk, and every
// probe lands on the row that made it.
TEST(NetworkChecks, SideBySideReportsAsOneAtATime) {
    struct Result {
        std::vector<CheckRow> rows;
        std::vector<int> counters;
        std::vector<std::string> log;
        std::string findings;
        std::vector<std::vector<std::string>> problems;
    };
    for (const Outcome& o : Outcomes()) {
        SCOPED_TRACE(o.name);
        Result results[2];
        for (const bool oneAtATime : {true, false}) {
            auto network = std::make_unique<FakeNetwork>();
            network->chatty = true;
            o.setUp(*network);
            const FakeNetwork& fake = *network;
            const std::vector<std::vector<std::string>> probed = {
                {},
                fake.gateway.empty() ? std::vector<std::string>{}
                                     : std::vector<std::string>{fake.gateway},
                fake.dnsText.empty() ? std::vector<std::string>{}
                                     : std::vector<std::string>{fake.dnsText},
                {},
                fake.proxySet != 0 && !fake.proxyText.empty()
                    ? std::vector<std::string>{fake.proxyText}
                    : std::vector<std::string>{},
                {},
                {"sites"},
            };
            PhaseRun run;
            CheckProbes probes;
            probes.network = std::move(network);
            ASSERT_TRUE(run.Run(std::move(probes), false, oneAtATime));
            Result& result = results[oneAtATime ? 0 : 1];
            for (int id = 1; id <= 7; ++id) {
                result.rows.push_back(run.RowOf(id));
                result.problems.push_back(testing::ProblemTexts(run.DiagnosisOf(id)));
                EXPECT_EQ(testing::ProbeTargets(run.DiagnosisOf(id)), probed[id - 1])
                    << id << (oneAtATime ? " one at a time" : " side by side");
            }
            result.counters = {run.Counters().checkedCount, run.Counters().errorCount,
                               run.Counters().warningCount, run.Counters().reportable};
            result.log = run.LogLines();
            result.findings = TheFindingsText().Text();
        }
        for (int i = 0; i < 7; ++i) {
            EXPECT_EQ(results[1].rows[i].detail, results[0].rows[i].detail) << i + 1;
            EXPECT_EQ(results[1].rows[i].status, results[0].rows[i].status) << i + 1;
        }
        EXPECT_EQ(results[1].counters, results[0].counters);
        EXPECT_EQ(results[1].log, results[0].log);
        EXPECT_EQ(results[1].findings, results[0].findings);
        EXPECT_EQ(results[1].problems, results[0].problems);
    }
}

// A stop pressed during the network rows takes effect after the last of them: the
// software rows stay unchecked and the run goes no further.
TEST(NetworkChecks, StopDuringTheRowsTakesEffectAfterRowSeven) {
    for (const int stopIn : {3, 7}) {
        SCOPED_TRACE(stopIn);
        PhaseRun run;
        auto network = std::make_unique<testing::FakeNetwork>();
        network->during = [&run, stopIn](int id) {
            if (id == stopIn) {
                run.window.StopEvent().Set();
            }
        };
        CheckProbes probes;
        probes.network = std::move(network);
        probes.software = std::make_unique<testing::FakeSoftware>();
        ASSERT_TRUE(run.Run(std::move(probes)));

        for (int id = 1; id <= 7; ++id) {
            EXPECT_EQ(run.RowOf(id).status, CheckStatus::Ok) << id;
        }
        EXPECT_EQ(run.RowOf(8).status, CheckStatus::NotChecked);
        EXPECT_EQ(run.Counters().checkedCount, 7);
        EXPECT_FALSE(run.window.StopEvent().Wait(0)) << "the phase that saw the stop resets it";
        EXPECT_EQ(run.window.StatusLine(), "当前进度：基本网络检测结束");
    }
}

// A network that lies: a portal in front of the sites and a resolver that answers every name;
// and the desktop's own verdict beside them. The problems land beside rows 3, 7, 13 and 16 in
// both walks, the notes get one line after the summary only when a portal was found, and the
// rows are those of an honest network.
TEST(NetworkChecks, InterceptionAddsProblemsBesideTheRowsAndOneNotesLine) {
    struct LyingNetwork : testing::FakeNetwork {
        std::optional<PortalFinding> portal;
        ResolverFinding resolver;
        std::optional<PortalFinding> FindCaptivePortal() override { return portal; }
        ResolverFinding CheckResolverAnswers() override { return resolver; }
        std::optional<platform::DesktopConnectivity> desktop;
        std::optional<platform::DesktopConnectivity> ReadDesktopConnectivity() override {
            return desktop;
        }
    };
    using Codes = std::vector<std::pair<int, std::string>>;  // item id, code name
    struct Case {
        const char* name;
        std::function<void(LyingNetwork&, testing::FakeService&)> setUp;
        Codes problems;        // every problem of rows 3, 7, 13 and 16, in row order
        std::string notesEnd;  // what follows the summary
    };
    const PortalFinding login{"login.example", "http://login.example/?from=site"};
    const std::vector<Case> cases = {
        {"honest network", [](LyingNetwork&, testing::FakeService&) {}, {}, ""},
        {"portal, list downloaded",
         [&](LyingNetwork& n, testing::FakeService&) { n.portal = login; },
         {{7, "captive_portal"}},
         "\r\n检测到网络需要登录认证(login.example)"},
        {"portal, list failed",
         [&](LyingNetwork& n, testing::FakeService& s) {
             n.portal = login;
             s.fetched = false;
         },
         {{7, "captive_portal"}, {16, "channel_list_intercepted"}},
         "\r\n检测到网络需要登录认证(login.example)"},
        {"portal's login page, no server listed",
         [&](LyingNetwork& n, testing::FakeService& s) {
             n.portal = login;
             s.servers = {{ServerGroup::ChannelServers, 0}, {ServerGroup::Trackers, 0}};
         },
         {{7, "captive_portal"}, {16, "channel_list_intercepted"}},
         "\r\n检测到网络需要登录认证(login.example)"},
        {"portal's login page on a later run: only servers kept from earlier lists",
         [&](LyingNetwork& n, testing::FakeService& s) {
             n.portal = login;
             s.listNamedServers = false;
         },
         {{7, "captive_portal"}, {16, "channel_list_intercepted"}},
         "\r\n检测到网络需要登录认证(login.example)"},
        {"no site reached: no portal judged",
         [&](LyingNetwork& n, testing::FakeService& s) {
             n.portal = login;
             n.internetPercent = 0;
             s.fetched = false;
         },
         {{7, "internet_unreachable"}},
         ""},
        {"resolver answers every name",
         [](LyingNetwork& n, testing::FakeService&) {
             n.resolver = {{"198.51.100.91"}, {}};
         },
         {{3, "dns_answers_nonexistent_names"}},
         ""},
        {"resolver sends product names there too",
         [](LyingNetwork& n, testing::FakeService&) {
             n.resolver = {{"198.51.100.90"}, {"channel.kelvora.com", "www.kelvora.com"}};
         },
         {{3, "dns_answers_nonexistent_names"}, {13, "product_names_hijacked"}},
         ""},
        {"no DNS server: the resolver is not asked",
         [](LyingNetwork& n, testing::FakeService&) {
             n.dnsReplies = 0;
             n.dnsText.clear();
             n.resolver = {{"198.51.100.91"}, {}};
         },
         {{3, "dns_not_configured"}},
         ""},
        {"desktop says full",
         [](LyingNetwork& n, testing::FakeService&) {
             n.desktop = platform::DesktopConnectivity::Full;
         },
         {},
         ""},
        {"desktop says portal, the sites connect",
         [](LyingNetwork& n, testing::FakeService&) {
             n.desktop = platform::DesktopConnectivity::Portal;
         },
         {{7, "desktop_reports_portal"}},
         ""},
        {"desktop says limited, no site reached",
         [](LyingNetwork& n, testing::FakeService&) {
             n.desktop = platform::DesktopConnectivity::Limited;
             n.internetPercent = 0;
         },
         {{7, "internet_unreachable"}, {7, "desktop_reports_limited"}},
         ""},
        {"desktop says none",
         [](LyingNetwork& n, testing::FakeService&) {
             n.desktop = platform::DesktopConnectivity::None;
         },
         {{7, "desktop_reports_no_connection"}},
         ""},
    };
    for (const Case& c : cases) {
        for (const bool oneAtATime : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (oneAtATime ? ", one at a time" : ", side by side"));
            auto network = std::make_unique<LyingNetwork>();
            auto service = std::make_unique<testing::FakeService>();
            c.setUp(*network, *service);
            const auto desktop = network->desktop;
            PhaseRun run;
            CheckProbes probes;
            probes.network = std::move(network);
            probes.software = std::make_unique<testing::FakeSoftware>();
            probes.service = std::move(service);
            ASSERT_TRUE(run.Run(std::move(probes), false, oneAtATime));

            Codes problems;
            std::vector<std::vector<std::string>> targets;
            for (const int id : {3, 7, 13, 16}) {
                const int row = run.window.Model().FindById(id);
                for (const Problem& problem : TheRunDiagnosis().Row(row).problems) {
                    problems.emplace_back(id, std::string(InfoOf(problem.code).name));
                    targets.push_back(problem.targets);
                }
            }
            EXPECT_EQ(problems, c.problems);
            EXPECT_EQ(TheRunDiagnosis().DesktopConnectivity(),
                      desktop ? std::optional<std::string>(DesktopConnectivityName(*desktop))
                              : std::nullopt);
            for (std::size_t i = 0; i < problems.size(); ++i) {
                const int id = problems[i].first;
                if (problems[i].second == "captive_portal" ||
                    problems[i].second == "channel_list_intercepted") {
                    EXPECT_EQ(targets[i], std::vector<std::string>{"login.example"});
                }
                if (id == 13) {
                    EXPECT_EQ(targets[i],
                              (std::vector<std::string>{"channel.kelvora.com", "www.kelvora.com"}));
                }
            }
            const std::string summary = CheckEngine::FormatSummary(
                run.window.RowCount() - kSeparatorRows, run.Counters().checkedCount,
                run.Counters().warningCount, run.Counters().errorCount);
            // The summary and the portal line, then the run's primary causes (the portal's).
            const std::string notes = run.window.Notes();
            EXPECT_EQ(notes.substr(0, notes.find(kPrimaryCausesHeading)), summary + c.notesEnd);
        }
    }
}

}  // namespace
}  // namespace lumidex
