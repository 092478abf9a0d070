// The basic software rows against scripted probes.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

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

struct Outcome {
    const char* name;
    std::function<void(FakeSoftware&)> setUp;
    int id;
    std::string detail;
    CheckStatus status;
    int errors;
    int warnings;
    std::string logLine;  // "" for none
    std::string finding;  // without its leading "\r\n"; "" for none
    bool reportable;
};

TEST(SoftwareChecks, EachOutcomeOfTheRows) {
    const std::string player = "\"C:\\Program Files\\Other\\player.exe\" \"%1\"";
    const Outcome outcomes[] = {
        {"system name", [](FakeSoftware&) {}, 8, "Debian GNU/Linux 12 (bookworm)", CheckStatus::Ok,
         0, 0, "Debian GNU/Linux 12 (bookworm)", "Debian GNU/Linux 12 (bookworm)", false},
        {"player 10", [](FakeSoftware&) {}, 9, "10.0.0.3802", CheckStatus::Ok, 0, 0,
         "WMP版本号:10.0.0.3802", "WMP版本号:10.0.0.3802", false},
        {"player 8", [](FakeSoftware& s) { s.wmpVersion = "8.0.0.4477"; }, 9, "8.0.0.4477",
         CheckStatus::Warning, 1, 1,
         "版本号低于9，请下载WMP9以上版本。您安装的WMP版本号:8.0.0.4477",
         "版本号低于9，请下载WMP9以上版本。您安装的WMP版本号:8.0.0.4477", false},
        {"no player",
         [](FakeSoftware& s) {
             s.wmpVersion.clear();
             s.wmpPath.clear();
             s.programs.clear();
         },
         9, "", CheckStatus::Warning, 3, 1, "版本号低于9，请下载WMP9以上版本。您安装的WMP版本号:",
         "版本号低于9，请下载WMP9以上版本。您安装的WMP版本号:", true},
        {"asf with the player", [](FakeSoftware&) {}, 10, "已与WMP关联", CheckStatus::Ok, 0, 0, "",
         "", false},
        {"asx with another player", [&](FakeSoftware& s) { s.programs[".asx"] = player; }, 11,
         "关联程序:" + player, CheckStatus::Warning, 0, 1, "关联程序:" + player,
         "asx文件关联程序:关联程序:" + player, false},
        {"asf without a program", [](FakeSoftware& s) { s.programs.erase(".asf"); }, 10,
         "asf文件没有关联", CheckStatus::Error, 1, 0, "asf文件没有关联", "asf文件没有关联", true},
    };
    for (const Outcome& o : outcomes) {
        SCOPED_TRACE(o.name);
        auto software = std::make_unique<FakeSoftware>();
        o.setUp(*software);
        PhaseRun run;
        ASSERT_TRUE(run.Run(WithSoftware(std::move(software))));

        const CheckRow& row = run.RowOf(o.id);
        EXPECT_EQ(row.detail, o.detail);
        EXPECT_EQ(row.status, o.status);
        EXPECT_EQ(run.Counters().checkedCount, 11) << "rows 1 to 11; no XP SP2 row";
        EXPECT_EQ(run.Counters().errorCount, o.errors);
        EXPECT_EQ(run.Counters().warningCount, o.warnings);
        EXPECT_EQ(run.Counters().reportable, o.reportable ? 1 : 0);
        if (!o.logLine.empty()) {
            EXPECT_TRUE(Contains(run.LogLines(), o.logLine));
        }
        if (!o.finding.empty()) {
            EXPECT_NE(TheFindingsText().Text().find("\r\n" + o.finding), std::string::npos);
        }
    }
}

// The XP SP2 row is checked only where the list has it, and a stop seen after the asx row
// ends the phase before it.
TEST(SoftwareChecks, XpSp2RowOnlyWhereListedAndNotAfterAStop) {
    struct Case {
        const char* name;
        bool xpSp2;
        bool stopDuringAsx;
        int checked;
        int patchSteps;
    };
    for (const Case& c :
         {Case{"not XP SP2", false, false, 11, 0}, Case{"XP SP2", true, false, 12, 1},
          Case{"stop during asx", true, true, 11, 0}}) {
        SCOPED_TRACE(c.name);
        PhaseRun run;
        auto software = std::make_unique<FakeSoftware>();
        software->xpSp2 = c.xpSp2;
        if (c.stopDuringAsx) {
            software->onAsx = [&run] { run.window.StopEvent().Set(); };
        }
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
        EXPECT_EQ(run.RowOf(11).status, CheckStatus::Ok);
    }
}

}  // namespace
}  // namespace lumidex
