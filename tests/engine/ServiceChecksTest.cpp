// The service rows against scripted probes.
#include <gtest/gtest.h>

#include <functional>

#include "FakeProbes.h"
#include "support/DiagnosisText.h"

namespace lumidex {
namespace {

using testing::FakeService;
using testing::PhaseRun;

CheckProbes WithService(std::unique_ptr<FakeService> service) {
    CheckProbes probes;
    probes.service = std::move(service);
    return probes;
}

struct Outcome : testing::RowOutcome<FakeService> {
    bool reportable;
    std::string finding;                     // a findings line the run must hold; "" for none
    std::vector<std::string> problems = {};  // the row's, made by the phase itself
};

std::vector<std::string> ProblemsOf(PhaseRun& run, int id) {
    return testing::ProblemTexts(TheRunDiagnosis().Row(run.window.Model().FindById(id)));
}

TEST(ServiceChecks, EachOutcomeOfTheRows) {
    const Outcome outcomes[] = {
        {"hosts file in order", [](FakeService&) {}, 13, "正常", CheckStatus::Ok, 0, 0, false,
         "\r\n开始KLV主要域名检测"},
        {"product mapping only",
         [](FakeService& s) {
             s.hostsOk = false;
             s.productMapping = "\r\nKLV映射:203.0.113.9<->www.kelvora.com,";
         },
         13, "\r\nKLV映射:203.0.113.9<->www.kelvora.com,", CheckStatus::Warning, 0, 1, false,
         "\r\nKLV映射:203.0.113.9<->www.kelvora.com,"},
        {"both mappings",
         [](FakeService& s) {
             s.hostsOk = false;
             s.productMapping = "\r\nKLV映射:203.0.113.9<->www.kelvora.com,";
             s.wrongMapping = "\r\n映射错误:127.0.0.1<->channel.kelvora.com";
         },
         13, "\r\n映射错误:127.0.0.1<->channel.kelvora.com", CheckStatus::Error, 1, 1, true,
         "\r\n映射错误:127.0.0.1<->channel.kelvora.com"},
        {"hosts file unreadable", [](FakeService& s) { s.hostsOk = false; }, 13,
         "找不到hosts文件或打开失败", CheckStatus::Error, 0, 0, false, ""},
        {"three of three channel servers",
         [](FakeService& s) {
             s.servers[ServerGroup::ChannelServers] = 3;
             s.answered[ServerGroup::ChannelServers] = 3;
         },
         17, "正常连接:37%", CheckStatus::Ok, 0, 0, false, "\r\n检测频道服务器"},
        {"eight of eight",
         [](FakeService& s) {
             s.servers[ServerGroup::ChannelServers] = 9;
             s.answered[ServerGroup::ChannelServers] = 8;
         },
         17, "正常连接:100%", CheckStatus::Ok, 0, 0, false, ""},
        {"one tracker of six", [](FakeService& s) { s.answered[ServerGroup::Trackers] = 1; }, 18,
         "正常连接:16%", CheckStatus::Ok, 0, 0, false, "\r\ntracker(目录)频道服务"},
        {"no tracker", [](FakeService& s) { s.answered[ServerGroup::Trackers] = 0; }, 18,
         "正常连接:0%", CheckStatus::Error, 1, 0, false, ""},
        {"channel list not fetched", [](FakeService& s) { s.fetched = false; }, 13, "正常",
         CheckStatus::Ok, 0, 0, false, "\r\n请求频道列表文件时发生错误\r\n开始KLV主要域名检测"},
        {"no channel server listed",
         [](FakeService& s) {
             s.servers[ServerGroup::ChannelServers] = 0;
             s.answered[ServerGroup::ChannelServers] = 0;
         },
         17,
         "正常连接:0%",
         CheckStatus::Error,
         1,
         0,
         false,
         "",
         {"error no_channel_servers_listed"}},
        {"no tracker listed",
         [](FakeService& s) {
             s.servers[ServerGroup::Trackers] = 0;
             s.answered[ServerGroup::Trackers] = 0;
         },
         18,
         "正常连接:0%",
         CheckStatus::Error,
         1,
         0,
         false,
         "",
         {"error no_trackers_listed"}},
    };
    for (const Outcome& o : outcomes) {
        SCOPED_TRACE(o.name);
        auto service = std::make_unique<FakeService>();
        o.setUp(*service);
        PhaseRun run;
        ASSERT_TRUE(run.Run(WithService(std::move(service))));

        testing::ExpectOutcome(run, o, 6, o.reportable);
        EXPECT_NE(TheFindingsText().Text().find(o.finding), std::string::npos);
        EXPECT_EQ(ProblemsOf(run, o.id), o.problems);
    }
}

// The walk shows the hosts-file row while the channel list is fetched and parsed; what the
// download and the parse record belongs to the list service's row.
TEST(ServiceChecks, TheChannelListsRecordsLandOnTheListServiceRow) {
    auto service = std::make_unique<FakeService>();
    service->onFetch = [] {
        RecordProbe({ProbeKind::Http, "http://list/", ProbeOutcome::Ok, 5.0, "total"});
        NoteProblem(MakeProblem(ProblemCode::ChannelListMalformed));
    };
    PhaseRun run;
    ASSERT_TRUE(run.Run(WithService(std::move(service))));
    EXPECT_EQ(ProblemsOf(run, 16), std::vector<std::string>{"error channel_list_malformed"});
    EXPECT_EQ(TheRunDiagnosis().Row(run.window.Model().FindById(16)).probes.size(), 1u);
    EXPECT_TRUE(TheRunDiagnosis().Row(run.window.Model().FindById(13)).probes.empty());
    EXPECT_TRUE(ProblemsOf(run, 13).empty());
}

TEST(ServiceChecks, ProgressRangeCoversEveryStepThatFollows) {
    PhaseRun run;
    ASSERT_TRUE(run.Run(WithService(std::make_unique<FakeService>())));
    // 2 channel servers + 6 of 10 trackers + 3 + 5 + 5 hosts + the hosts file.
    EXPECT_EQ(run.window.ProgressMaximum(), 22);
    EXPECT_EQ(run.window.ProgressPosition(), 22);
}

// A stop already pending touches no row; one seen by a probe leaves the later rows unchecked,
// while the channel row still shows the servers that answered before it.
TEST(ServiceChecks, StopsLeaveTheRemainingRowsUnchecked) {
    struct Case {
        const char* name;
        std::function<void(FakeService&, PhaseRun&)> stop;
        int checked;
        int lastRow;  // the last row with a verdict; 12 for none
        std::string lastDetail;
    };
    const Case cases[] = {
        {"pending at the start", [](FakeService&, PhaseRun& run) { run.window.StopEvent().Set(); },
         0, 12, ""},
        {"during the channel-list wait",
         [](FakeService& s, PhaseRun& run) {
             s.onFetch = [&run] { run.window.StopEvent().Set(); };
         },
         0, 12, ""},
        {"during the website hosts",
         [](FakeService& s, PhaseRun& run) {
             s.onWebsite = [&run](ProbeReporter&) { run.window.StopEvent().Set(); };
         },
         2, 13, "正常"},
        {"during the channel-server walk",
         [](FakeService& s, PhaseRun& run) {
             s.answered[ServerGroup::ChannelServers] = 1;
             s.onChannelServer = [&run] { run.window.StopEvent().Set(); };
         },
         5, 17, "正常连接:12%"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PhaseRun run;
        auto service = std::make_unique<FakeService>();
        c.stop(*service, run);
        // The run's end is told once, last, and only after the work started ahead has ended.
        const FakeService* fake = service.get();
        service->finishDelayMs = 100;
        int ends = 0;
        bool endAfterFinish = false;
        bool changeAfterEnd = false;
        run.window.SetObserver([&](const WindowChange& change) {
            changeAfterEnd = changeAfterEnd || ends > 0;
            if (change.kind == WindowChange::Kind::Running && change.value == 0) {
                ++ends;
                endAfterFinish = fake->finished;
            }
        });
        // The basic phase has no probes here, so a pending stop reaches the service phase.
        ASSERT_TRUE(run.Run(WithService(std::move(service))));
        EXPECT_EQ(ends, 1);
        EXPECT_TRUE(endAfterFinish) << "the end came before the work started ahead had ended";
        EXPECT_FALSE(changeAfterEnd) << "the run went on after telling its end";
        EXPECT_EQ(run.Counters().checkedCount, c.checked);
        for (int id = 13; id <= 18; ++id) {
            EXPECT_EQ(run.RowOf(id).status == CheckStatus::NotChecked, id > c.lastRow) << id;
        }
        if (c.lastRow > 12) {
            EXPECT_EQ(run.RowOf(c.lastRow).detail, c.lastDetail);
        }
        EXPECT_EQ(run.engine->Running(), 0);
        EXPECT_FALSE(run.window.StopEvent().Wait(0));
        EXPECT_EQ(run.window.StatusLine(), "当前进度：KLV服务检测结束");
    }
}

}  // namespace
}  // namespace lumidex
