// Probes side by side: results taken in list order whatever order they finish in, each with
// what it wrote replayed at its place; the bound on probes under way; abandoned tasks.
#include "engine/ProbeTasks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/DiagLog.h"
#include "engine/Diagnosis.h"
#include "engine/FindingsText.h"
#include "support/LogCapture.h"

namespace lumidex {
namespace {

// Each task waits for the one after it, so they finish last to first; what they write (log,
// findings, probe records) lands in list order, and only when the walk takes it.
TEST(ProbeTasks, ResultsFinishingLastFirstAreWrittenInListOrderWhenTaken) {
    testing::LogCapture log;
    TheFindingsText().Reset("");
    TheRunDiagnosis().Reset();
    constexpr int kTasks = 6;
    std::vector<std::promise<void>> finished(kTasks);
    std::vector<ProbeFuture<int>> results;
    {
        ProbeTasks tasks;
        for (int i = 0; i < kTasks; ++i) {
            std::shared_future<void> next;
            if (i + 1 < kTasks) {
                next = finished[i + 1].get_future().share();
            }
            results.push_back(tasks.Start<int>([i, next, &finished] {
                if (next.valid()) {
                    next.wait();
                }
                Log("host " + std::to_string(i));
                AddFinding("failed " + std::to_string(i));
                RecordProbe({ProbeKind::Icmp, "host " + std::to_string(i), ProbeOutcome::Timeout,
                             std::nullopt, "echo"});
                finished[i].set_value();
                return i * 10;
            }));
        }
        finished[0].get_future().wait();
        EXPECT_TRUE(log.Lines().empty()) << "nothing written before the walk takes it";
        EXPECT_EQ(TheFindingsText().Text(), "");
        std::vector<std::string> expectedLog;
        std::string expectedFindings;
        EXPECT_TRUE(TheRunDiagnosis().Empty());
        for (int i = 0; i < kTasks; ++i) {
            // The walk is on row i when it takes result i: the record is that row's.
            TheRunDiagnosis().SetCurrentRow(i);
            EXPECT_EQ(results[i].get().Replayed(), i * 10);
            ASSERT_EQ(TheRunDiagnosis().Row(i).probes.size(), 1u);
            EXPECT_EQ(TheRunDiagnosis().Row(i).probes[0].target, "host " + std::to_string(i));
            expectedLog.push_back("host " + std::to_string(i));
            expectedFindings += "\r\nfailed " + std::to_string(i);
        }
        EXPECT_EQ(log.Lines(), expectedLog);
        EXPECT_EQ(TheFindingsText().Text(), expectedFindings);
    }
}

TEST(ProbeTasks, NoMoreThanTheLimitAreUnderWay) {
    std::atomic<int> running{0};
    std::atomic<int> most{0};
    {
        ProbeTasks tasks(3);
        std::vector<ProbeFuture<bool>> results;
        for (int i = 0; i < 12; ++i) {
            results.push_back(tasks.Start<bool>([&] {
                const int now = ++running;
                int seen = most.load();
                while (now > seen && !most.compare_exchange_weak(seen, now)) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                --running;
                return true;
            }));
        }
        for (const ProbeFuture<bool>& result : results) {
            EXPECT_TRUE(result.get().value);
        }
    }
    EXPECT_GE(most.load(), 1);
    EXPECT_LE(most.load(), 3);
}

// A walk that stops leaves tasks behind: the one under way is ended through its cancel hook,
// those not begun never begin, and the results held afterwards stay readable.
TEST(ProbeTasks, AbandonedTasksEndThroughTheirHookAndTheRestNeverBegin) {
    std::atomic<int> begun{0};
    std::vector<ProbeFuture<int>> results;
    {
        ProbeTasks tasks(1);
        std::promise<void> started;
        results.push_back(tasks.Start<int>([&] {
            ++begun;
            std::promise<void> cancelled;
            const ProbeTasks::CancelHook hook(&tasks, [&cancelled] { cancelled.set_value(); });
            started.set_value();
            cancelled.get_future().wait();  // a connect that only a closed socket ends
            return 1;
        }));
        for (int i = 0; i < 4; ++i) {
            results.push_back(tasks.Start<int>([&] {
                ++begun;
                return 2;
            }));
        }
        started.get_future().wait();
    }
    EXPECT_EQ(begun.load(), 1);
    EXPECT_EQ(results[0].get().value, 1);
    for (std::size_t i = 1; i < results.size(); ++i) {
        EXPECT_EQ(results[i].get().value, 0) << i;
    }
}

// A task that throws must neither end the program through the walk's get() nor keep its slot:
// with one slot, every later task would wait for ever.
TEST(ProbeTasks, ATaskThatThrowsGivesTheDefaultResultAndItsSlotBack) {
    ProbeTasks tasks(1);
    const ProbeFuture<int> thrown = tasks.Start<int>([]() -> int {
        Log("written before the throw");
        throw std::runtime_error("no thread to be had");
    });
    const ProbeFuture<int> next = tasks.Start<int>([] { return 7; });
    ASSERT_EQ(next.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "the slot of the task that threw was never given back";
    EXPECT_EQ(next.get().value, 7);
    testing::LogCapture log;
    EXPECT_EQ(thrown.get().Replayed(), 0);
    EXPECT_TRUE(log.Lines().empty()) << "an abandoned result replays nothing";
}

}  // namespace
}  // namespace lumidex
