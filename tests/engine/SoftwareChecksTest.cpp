// The basic software rows against scripted probes.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "FakeProbes.h"

namespace lumidex {
namespace {

using testing::FakeNetwork;
using testing::FakeSoftware;
using testing::PhaseRun;

CheckProbes WithSoftware(std::unique_ptr<FakeSoftware> software) {
    CheckProbes probes;
    probes.network = std::make_unique<FakeNetwork>();
    probes.software = std::move(software);
    return probes;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The findings text's lines, each without the "\r\n" that starts it.
std::vector<std::string> FindingsLines() {
    const std::string text = TheFindingsText().Text();
    std::vector<std::string> lines;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos;) {
        const std::size_t next = text.find("\r\n", at + 2);
        lines.push_back(text.substr(at + 2, next - at - 2));
        at = next;
    }
    return lines;
}

struct Outcome : testing::RowOutcome<FakeSoftware> {
    std::optional<std::string> logLine;  // none for no line of the row's own
    std::optional<std::string> finding;  // without its leading "\r\n"
    bool reportable;
    std::vector<std::string> problems;  // the row's, as testing::ProblemTexts writes them
};

TEST(SoftwareChecks, EachOutcomeOfTheRows) {
    const std::string player = "\"C:\\Program Files\\Other\\player.exe\" \"%1\"";
    const Outcome outcomes[] = {
        {"system name",
         [](FakeSoftware&) {},
         8,
         "Debian GNU/Linux 12 (bookworm)",
         CheckStatus::Ok,
         0,
         0,
         "Debian GNU/Linux 12 (bookworm)",
         "Debian GNU/Linux 12 (bookworm)",
         false,
         {}},
        {"player 10",
         [](FakeSoftware&) {},
         9,
         "10.0.0.3802",
         CheckStatus::Ok,
         0,
         0,
         "WMP版本号:10.0.0.3802",
         "WMP版本号:10.0.0.3802",
         false,
         {}},
        {"unknown system",
         [](FakeSoftware& s) { s.osName.clear(); },
         8,
         "",
         CheckStatus::Ok,
         0,
         0,
         "",
         "",
         false,
         {"info os_unknown"}},
        {"player 9",
         [](FakeSoftware& s) { s.wmpVersion = "9.0.0.2980"; },
         9,
         "9.0.0.2980",
         CheckStatus::Ok,
         0,
         0,
         "WMP版本号:9.0.0.2980",
         "WMP版本号:9.0.0.2980",
         false,
         {}},
        {"player 9 without a dot",
         [](FakeSoftware& s) { s.wmpVersion = "9"; },
         9,
         "9",
         CheckStatus::Ok,
         0,
         0,
         "WMP版本号:9",
         "WMP版本号:9",
         false,
         {}},
        {"player 8.x",
         [](FakeSoftware& s) { s.wmpVersion = "8.x"; },
         9,
         "8.x",
         CheckStatus::Warning,
         1,
         1,
         "版本号低于9，请下载WMP9以上版本。您安装的WMP版本号:8.x",
         "版本号低于9，请下载WMP9以上版本。您安装的WMP版本号:8.x",
         false,
         {"warning player_too_old (8.x)"}},
        {"player 8",
         [](FakeSoftware& s) { s.wmpVersion = "8.0.0.4477"; },
         9,
         "8.0.0.4477",
         CheckStatus::Warning,
         1,
         1,
         "版本号低于9，请下载WMP9以上版本。您安装的WMP版本号:8.0.0.4477",
         "版本号低于9，请下载WMP9以上版本。您安装的WMP版本号:8.0.0.4477",
         false,
         {"warning player_too_old (8.0.0.4477)"}},
        {"no player",
         [](FakeSoftware& s) {
             s.wmpVersion.clear();
             s.wmpPath.clear();
             s.programs.clear();
         },
         9,
         "",
         CheckStatus::Warning,
         3,
         1,
         "版本号低于9，请下载WMP9以上版本。您安装的WMP版本号:",
         "版本号低于9，请下载WMP9以上版本。您安装的WMP版本号:",
         true,
         {"error player_missing"}},
        {"asf with the player",
         [](FakeSoftware&) {},
         10,
         "已与WMP关联",
         CheckStatus::Ok,
         0,
         0,
         std::nullopt,
         std::nullopt,
         false,
         {}},
        {"asx with another player",
         [&](FakeSoftware& s) { s.programs[".asx"] = player; },
         11,
         "关联程序:" + player,
         CheckStatus::Warning,
         0,
         1,
         "关联程序:" + player,
         "asx文件关联程序:关联程序:" + player,
         false,
         {"warning asx_other_player " + player}},
        {"asf with another player",
         [&](FakeSoftware& s) { s.programs[".asf"] = player; },
         10,
         "关联程序:" + player,
         CheckStatus::Warning,
         0,
         1,
         "关联程序:" + player,
         "asf文件关联程序:关联程序:" + player,
         false,
         {"warning asf_not_associated " + player}},
        {"asx without a program",
         [](FakeSoftware& s) { s.programs.erase(".asx"); },
         11,
         "asx文件没有关联",
         CheckStatus::Error,
         1,
         0,
         "asx文件没有关联",
         "asx文件没有关联",
         true,
         {"warning asx_not_associated"}},
        {"asf without a program",
         [](FakeSoftware& s) { s.programs.erase(".asf"); },
         10,
         "asf文件没有关联",
         CheckStatus::Error,
         1,
         0,
         "asf文件没有关联",
         "asf文件没有关联",
         true,
         {"warning asf_not_associated"}},
        {"the prefix read is named last, the client's own problems on the first row",
         [](FakeSoftware& s) {
             s.osName.clear();
             s.prefix = "/home/u/.wine";
             s.clientProblems = {MakeProblem(ProblemCode::ClientNotRunning, {"C:\\K\\"})};
         },
         8,
         "",
         CheckStatus::Ok,
         0,
         0,
         "",
         "",
         false,
         {"info os_unknown /home/u/.wine", "info client_not_running C:\\K\\"}},
        {"the prefix beside another player",
         [&](FakeSoftware& s) {
             s.prefix = "/p";
             s.programs[".asx"] = player;
         },
         11,
         "关联程序:" + player,
         CheckStatus::Warning,
         0,
         1,
         "关联程序:" + player,
         "asx文件关联程序:关联程序:" + player,
         false,
         {"warning asx_other_player " + player + ",/p"}},
        {"the prefix without a player",
         [](FakeSoftware& s) {
             s.prefix = "/p";
             s.wmpVersion = "8.0";
         },
         9,
         "8.0",
         CheckStatus::Warning,
         1,
         1,
         "版本号低于9，请下载WMP9以上版本。您安装的WMP版本号:8.0",
         "版本号低于9，请下载WMP9以上版本。您安装的WMP版本号:8.0",
         false,
         {"warning player_too_old /p (8.0)"}},
    };
    for (const Outcome& o : outcomes) {
        SCOPED_TRACE(o.name);
        auto software = std::make_unique<FakeSoftware>();
        o.setUp(*software);
        PhaseRun run;
        ASSERT_TRUE(run.Run(WithSoftware(std::move(software))));

        testing::ExpectOutcome(run, o, 11, o.reportable);  // rows 1 to 11; no XP SP2 row
        if (o.logLine) {
            EXPECT_TRUE(Contains(run.LogLines(), *o.logLine));
        }
        if (o.finding) {
            EXPECT_TRUE(Contains(FindingsLines(), *o.finding));
        }
        EXPECT_EQ(testing::ProblemTexts(run.DiagnosisOf(o.id)), o.problems);
    }
}

// The XP SP2 row is checked only where the list has it; a stop seen during rows 9 to 11
// ends the phase after row 11, before it.
TEST(SoftwareChecks, XpSp2RowOnlyWhereListedAndNotAfterAStop) {
    struct Case {
        const char* name;
        bool xpSp2;
        int stopIn;  // row whose probe sees the stop pressed; 0 none
        int checked;
        int patchSteps;
    };
    for (const Case& c : {Case{"not XP SP2", false, 0, 11, 0}, Case{"XP SP2", true, 0, 12, 1},
                          Case{"stop during the player version", true, 9, 11, 0},
                          Case{"stop during asx", true, 11, 11, 0}}) {
        SCOPED_TRACE(c.name);
        PhaseRun run;
        auto software = std::make_unique<FakeSoftware>();
        software->xpSp2 = c.xpSp2;
        software->during = [&run, &c](int id) {
            if (id == c.stopIn) {
                run.window.StopEvent().Set();
            }
        };
        FakeSoftware& fake = *software;
        ASSERT_TRUE(run.Run(WithSoftware(std::move(software)), c.xpSp2));
        EXPECT_EQ(run.Counters().checkedCount, c.checked);
        EXPECT_EQ(fake.patchSteps, c.patchSteps);
        if (c.xpSp2) {
            EXPECT_EQ(run.RowOf(12).status,
                      c.patchSteps ? CheckStatus::Ok : CheckStatus::NotChecked);
        } else {
            EXPECT_EQ(run.window.Model().FindById(12), -1);
        }
        for (int id = 8; id <= 11; ++id) {
            EXPECT_EQ(run.RowOf(id).status, CheckStatus::Ok) << id;
        }
        EXPECT_EQ(run.engine->Running(), 0);
        EXPECT_FALSE(run.window.StopEvent().Wait(0));
    }
}

// What the status line and the progress bar show through rows 1 to 12.
TEST(SoftwareChecks, StatusLineAndProgressOfTheBasicRows) {
    PhaseRun run;
    std::vector<std::string> shown;
    run.window.SetObserver([&shown](const WindowChange& c) {
        if (c.kind == WindowChange::Kind::StatusText) {
            shown.push_back(c.text);
        } else if (c.kind == WindowChange::Kind::ProgressRange) {
            shown.push_back("range " + std::to_string(c.value));
        } else if (c.kind == WindowChange::Kind::ProgressPos) {
            shown.push_back(std::to_string(c.value));
        }
    });
    auto software = std::make_unique<FakeSoftware>();
    software->xpSp2 = true;
    ASSERT_TRUE(run.Run(WithSoftware(std::move(software)), true));

    const std::vector<std::string> expected = {
        "range 8",
        "当前进度：本地IP...",
        "1",
        "当前进度：默认网关...",
        "2",
        "当前进度：DNS能否ping通...",
        "3",
        "当前进度：IE脱机设置...",
        "4",
        "当前进度：IE代理服务器...",
        "5",
        "当前进度：本地连接...",
        "6",
        "当前进度：Internet连接...",
        "7",
        "range 6",
        "当前进度：基本软件检测...",
        "当前进度：操作系统...",
        "1",
        "当前进度：WMP版本号...",
        "2",
        "当前进度：asf文件关联...",
        "3",
        "当前进度：asx文件关联...",
        "4",
        "当前进度：xpsp2补丁...",
        "5",
        "当前进度：基本网络检测结束",
        "当前进度：KLV服务检测结束",
    };
    EXPECT_EQ(shown, expected);
}

}  // namespace
}  // namespace lumidex
