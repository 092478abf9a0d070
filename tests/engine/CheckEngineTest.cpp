#include "engine/CheckEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "ScriptedEngine.h"
#include "engine/Diagnosis.h"
#include "engine/FindingsText.h"
#include "engine/QueuedDiagWindow.h"

namespace lumidex {
namespace {

using testing::PumpUntilIdle;
using testing::ScriptedEngine;
using Kind = WindowChange::Kind;

struct Recorded {
    std::vector<WindowChange> changes;
    std::vector<std::string> Describe() const {
        std::vector<std::string> out;
        for (const auto& c : changes) {
            switch (c.kind) {
                case Kind::StatusText:
                    out.push_back("status:" + c.text);
                    break;
                case Kind::ExitEnabled:
                    out.push_back(c.value ? "exit:on" : "exit:off");
                    break;
                case Kind::SubmitEnabled:
                    out.push_back(c.value ? "submit:on" : "submit:off");
                    break;
                case Kind::Notes:
                    out.push_back("notes");
                    break;
                case Kind::ItemStatus:
                    out.push_back("item-status:" + std::to_string(c.row) + "=" +
                                  std::to_string(c.value));
                    break;
                case Kind::ItemText:
                    out.push_back("item-text:" + std::to_string(c.row) + "=" + c.text);
                    break;
                case Kind::CurrentItem:
                    out.push_back("current:" + std::to_string(c.row));
                    break;
                case Kind::ProgressRange:
                    out.push_back("range:" + std::to_string(c.value));
                    break;
                case Kind::ProgressPos:
                    out.push_back("pos:" + std::to_string(c.value));
                    break;
                case Kind::EnsureVisible:
                    out.push_back("visible:" + std::to_string(c.row));
                    break;
                case Kind::Running:
                    out.push_back(c.value ? "running:on" : "running:off");
                    break;
                case Kind::WaitCursor:
                    out.push_back(c.value ? "wait-cursor:on" : "wait-cursor:off");
                    break;
            }
        }
        return out;
    }
};

class CheckEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.SetObserver([this](const WindowChange& c) { recorded.changes.push_back(c); });
    }
    // A worker still waiting for the window must not keep the engine's destructor waiting.
    void TearDown() override { window.Close(); }

    void RunToEnd() {
        engine.Start(&window);
        ASSERT_TRUE(PumpUntilIdle(window, engine));
    }

    QueuedDiagWindow window;
    ScriptedEngine engine;
    Recorded recorded;
};

const char kSummary17[] =
    "\r\n\r\n----------------------------\r\n[检测结束]\r\n\r\n共有17顶\r\n已经检测0项\r\n"
    "警告0项\r\n错误0项";

TEST_F(CheckEngineTest, RunsPhasesInOrderAndAppendsTheSummaryToTheNotes) {
    window.SetNotes("usage notes");
    engine.basic = [](ScriptedEngine& e) {
        const int row = e.FindItemRow(1);
        e.SetCurrentItem(row);
        e.SetStatusText("本地IP...");
        ++e.Counters().checkedCount;
        e.SetItemText(row, 1, "192.0.2.10");
        e.SetItemStatus(row, CheckStatus::Ok);
        e.SetProgressPos(1);
    };
    engine.service = [](ScriptedEngine& e) {
        EXPECT_EQ(e.Running(), 1);
        e.SetStatusText("域名映射...");
    };
    RunToEnd();

    const std::vector<std::string> expected = {
        "exit:off",
        "running:on",
        "current:0",
        "status:当前进度：本地IP...",
        "item-text:0=192.0.2.10",
        "item-status:0=2",
        "pos:1",
        "status:当前进度：基本网络检测结束",
        "status:当前进度：域名映射...",
        "status:当前进度：KLV服务检测结束",
        "exit:on",
        "notes",
        "running:off",
    };
    EXPECT_EQ(recorded.Describe(), expected);
    EXPECT_EQ(window.Notes(),
              "usage notes\r\n\r\n----------------------------\r\n[检测结束]\r\n\r\n"
              "共有17顶\r\n已经检测1项\r\n警告0项\r\n错误0项");
    EXPECT_EQ(engine.Running(), 0);
    EXPECT_FALSE(window.SubmitEnabled());
    EXPECT_EQ(TheFindingsText().Text(), "\r\n开始基本网络检测");
}

TEST_F(CheckEngineTest, SummaryCountsRowsWithoutSeparators) {
    EXPECT_EQ(CheckEngine::FormatSummary(17, 0, 0, 0), kSummary17);

    RunToEnd();
    EXPECT_EQ(window.Notes(), kSummary17);

    // A system with the XP SP2 row has 20 rows, so 18 items.
    window.RebuildRows(true);
    RunToEnd();
    EXPECT_EQ(window.Notes(),
              std::string(kSummary17) +
                  "\r\n\r\n----------------------------\r\n[检测结束]\r\n\r\n共有18顶\r\n"
                  "已经检测0项\r\n警告0项\r\n错误0项");
}

// The public sites unreachable, the client not started: after the summary the notes name the
// one cause worth acting on, with its next step; a note (the client) is no cause.
TEST_F(CheckEngineTest, NotesEndWithThePrimaryCausesNextStep) {
    engine.basic = [](ScriptedEngine& e) {
        TheRunDiagnosis().AddProblem(e.FindItemRow(7),
                                     MakeProblem(ProblemCode::InternetUnreachable));
        TheRunDiagnosis().AddProblem(e.FindItemRow(8), MakeProblem(ProblemCode::ClientNotRunning));
    };
    engine.service = [](ScriptedEngine& e) {
        TheRunDiagnosis().AddProblem(e.FindItemRow(14),
                                     MakeProblem(ProblemCode::WebHostsUnreachable, {"w"}));
    };
    RunToEnd();
    EXPECT_EQ(window.Notes(), std::string(kSummary17) + "\r\n\r\n主要原因:\r\n- " +
                                  std::string(InfoOf(ProblemCode::InternetUnreachable).advice));
    // The row tips learn what explains the service row's problem.
    const auto& rows = window.Model().Rows();
    const auto webRow =
        std::find_if(rows.begin(), rows.end(), [](const CheckRow& r) { return r.id == 14; });
    ASSERT_NE(webRow, rows.end());
    const RowDiagnosis web = TheRunDiagnosis().Row(static_cast<int>(webRow - rows.begin()));
    ASSERT_EQ(web.explainedBy.size(), 1u);
    EXPECT_EQ(web.explainedBy[0].problem, ProblemCode::WebHostsUnreachable);
    EXPECT_EQ(web.explainedBy[0].cause, ProblemCode::InternetUnreachable);
}

TEST_F(CheckEngineTest, StopPendingAtStartSkipsTheServicePhase) {
    window.StopEvent().Set();
    engine.basic = [](ScriptedEngine& e) {
        if (e.StopIfRequested()) {
            return;
        }
        ADD_FAILURE() << "the stop request was not seen";
    };
    RunToEnd();

    EXPECT_EQ(engine.serviceCalls, 0);
    const auto changes = recorded.Describe();
    EXPECT_EQ(std::count(changes.begin(), changes.end(), "running:off"), 1)
        << "the flag drops once, where the stop was seen";
    EXPECT_FALSE(window.Running());
    EXPECT_EQ(window.StatusLine(), "当前进度：基本网络检测结束");
    EXPECT_FALSE(window.StopEvent().Wait(0)) << "the phase that saw the stop resets it";
    EXPECT_EQ(window.Notes(), kSummary17);
    for (const auto& row : window.Model().Rows()) {
        if (!row.IsSeparator()) {
            EXPECT_EQ(row.status, CheckStatus::NotChecked);
        }
    }
}

TEST_F(CheckEngineTest, StopWhileTheServicePhaseRunsStillWritesTheSummary) {
    platform::Event inService(true);
    engine.service = [&](ScriptedEngine& e) {
        ++e.Counters().checkedCount;
        inService.Set();
        while (!e.StopIfRequested()) {
        }
    };
    engine.Start(&window);
    while (!inService.Wait(10)) {
        window.ProcessPending(10);
    }
    window.PressStop();
    EXPECT_EQ(window.StatusLine(), "正在停止KLV服务检测，请稍候...");
    ASSERT_TRUE(PumpUntilIdle(window, engine));

    EXPECT_EQ(window.StatusLine(), "当前进度：KLV服务检测结束");
    EXPECT_NE(window.Notes().find("已经检测1项"), std::string::npos);
    EXPECT_EQ(engine.Running(), 0);
}

TEST_F(CheckEngineTest, StartWhileARunIsAliveCreatesNoSecondThread) {
    platform::Event entered(true);
    platform::Event release(true);
    engine.basic = [&](ScriptedEngine&) {
        entered.Set();
        release.Wait(platform::kWaitForever);
    };
    engine.Start(&window);
    while (!entered.Wait(0)) {
        window.ProcessPending(10);
    }
    engine.Start(&window);  // must neither block on the running phase nor start a thread
    EXPECT_TRUE(engine.IsRunning());
    release.Set();
    ASSERT_TRUE(PumpUntilIdle(window, engine));
    EXPECT_EQ(engine.runs, 1);
}

// The run's end is the last thing the window hears of it: a press that follows at once starts
// the next run, never lost to the old thread's last instructions.
TEST_F(CheckEngineTest, AStartRightAfterTheEndStartsTheNextRun) {
    int ends = 0;
    bool startedAgain = false;
    window.SetObserver([&](const WindowChange& c) {
        if (c.kind == Kind::Running && c.value == 0 && ++ends == 1) {
            startedAgain = engine.Start(&window);
        }
    });
    engine.Start(&window);
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ends < 2 && std::chrono::steady_clock::now() < guard) {
        window.ProcessPending(10);
    }
    ASSERT_TRUE(PumpUntilIdle(window, engine));
    EXPECT_TRUE(startedAgain);
    EXPECT_EQ(engine.runs, 2);
}

TEST_F(CheckEngineTest, WithoutAWindowNothingRuns) {
    engine.Start(nullptr);
    EXPECT_FALSE(engine.IsRunning());
    EXPECT_EQ(engine.runs, 0);
}

TEST_F(CheckEngineTest, SubmitNeedsReportableAndCountedErrorsAndReportableOutlivesTheRun) {
    engine.basic = [](ScriptedEngine& e) {
        e.Counters().reportable = 1;
        ++e.Counters().warningCount;
    };
    RunToEnd();
    EXPECT_FALSE(window.SubmitEnabled()) << "a warning alone is no reason to report";

    engine.basic = [](ScriptedEngine& e) { ++e.Counters().errorCount; };
    RunToEnd();
    EXPECT_TRUE(window.SubmitEnabled()) << "reportable from the first run still counts";
    EXPECT_EQ(engine.Counters().warningCount, 0) << "counters restart with every run";
    EXPECT_NE(window.Notes().rfind("错误1项"), std::string::npos);
}

TEST_F(CheckEngineTest, ClosingTheWindowDuringTheSummaryDoesNotDeadlock) {
    // Stop pumping as soon as the phases are over: the worker then waits in the summary's
    // first sent call while the window, closing, waits for the worker.
    std::atomic<bool> phasesOver{false};
    window.SetObserver([&](const WindowChange& c) {
        if (c.kind == Kind::StatusText && c.text.find("KLV服务检测结束") != std::string::npos) {
            phasesOver = true;
        }
    });
    engine.Start(&window);
    while (!phasesOver) {
        window.ProcessPending(10);
    }
    EXPECT_TRUE(engine.IsRunning());

    window.Close();
    auto stopped = std::async(std::launch::async, [&] { return engine.Stop(kCloseStopTimeoutMs); });
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(20)), std::future_status::ready)
        << "the window and the worker wait for each other";
    stopped.get();  // true, or false when the worker had already ended: either is fine
    EXPECT_FALSE(engine.IsRunning());
}

// The patch program's answer reports from the window thread while the check thread holds the
// engine lock and may be waiting for the window: neither may wait for the other.
TEST_F(CheckEngineTest, WindowThreadReportsWhileThePhasesRun) {
    platform::Event entered(true);
    platform::Event release(true);
    engine.basic = [&](ScriptedEngine& e) {
        e.SetItemText(e.FindItemRow(1), 1, "from the run");
        entered.Set();
        release.Wait(platform::kWaitForever);
        e.SetProgressPos(1);
    };
    engine.Start(&window);
    while (!entered.Wait(0)) {
        window.ProcessPending(10);
    }
    const int row = engine.FindItemRow(1);
    engine.SetItemText(row, 1, "from the window");
    engine.SetItemStatus(row, CheckStatus::Warning);
    release.Set();
    ASSERT_TRUE(PumpUntilIdle(window, engine));

    const std::vector<std::string> expected = {"item-text:0=from the run",
                                               "item-text:0=from the window", "item-status:0=3"};
    std::vector<std::string> rowChanges;
    for (const auto& line : recorded.Describe()) {
        if (line.starts_with("item-")) {
            rowChanges.push_back(line);
        }
    }
    EXPECT_EQ(rowChanges, expected);
    EXPECT_EQ(window.Model().Rows()[0].detail, "from the window");
}

// A Stop that gives up leaves the run going; destroying the engine must still wait for it
// instead of freeing what the run uses.
TEST_F(CheckEngineTest, DestroyingTheEngineWaitsForARunThatStopGaveUpOn) {
    auto late = std::make_unique<ScriptedEngine>();
    platform::Event entered(true);
    platform::Event release(true);
    late->basic = [&](ScriptedEngine& e) {
        entered.Set();
        release.Wait(platform::kWaitForever);
        ++e.Counters().checkedCount;
    };
    late->Start(&window);
    while (!entered.Wait(0)) {
        window.ProcessPending(10);
    }
    EXPECT_FALSE(late->Stop(100));

    auto destroyed = std::async(std::launch::async, [&] { late.reset(); });
    EXPECT_EQ(destroyed.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    release.Set();
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (destroyed.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
        ASSERT_LT(std::chrono::steady_clock::now(), guard) << "the destructor never returned";
        window.ProcessPending(10);
    }
}

}  // namespace
}  // namespace lumidex
