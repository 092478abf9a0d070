#include "platform/WorkerThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/Event.h"

namespace lumidex {
namespace {

// Runs until released (or its own stop event is set), counting its runs.
class GatedWorker : public WorkerThread {
public:
    ~GatedWorker() override {
        release.Set();
        WorkerThread::Stop(nullptr, 0);
    }
    platform::Event release{true};
    std::atomic<int> runs{0};
    std::atomic<bool> finished{false};

protected:
    int Run() override {
        ++runs;
        release.Wait(platform::kWaitForever);
        finished = true;
        return 7;
    }
};

TEST(WorkerThreadTest, StartIsRefusedWhileAlive) {
    GatedWorker worker;
    EXPECT_TRUE(worker.Start("first"));
    EXPECT_FALSE(worker.Start("second"));
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_EQ(worker.Name(), "second") << "each start that passes a name stores it";
    // The thread waits on release, so it is alive when Stop begins; Stop sets the event.
    EXPECT_TRUE(worker.Stop(&worker.release, 5000));
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(worker.runs, 1);
    EXPECT_TRUE(worker.Start()) << "a new thread once the old one ended";
}

TEST(WorkerThreadTest, StopSetsTheEventEverySlice) {
    GatedWorker worker;
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.Stop(&worker.release, 5000));
    EXPECT_TRUE(worker.finished);
}

TEST(WorkerThreadTest, StopGivesUpAfterItsBudgetAndLeavesTheThreadRunning) {
    GatedWorker worker;
    ASSERT_TRUE(worker.Start());
    EXPECT_FALSE(worker.Stop(nullptr, 250));
    EXPECT_FALSE(worker.finished) << "a thread that does not end is never killed";
    EXPECT_FALSE(worker.IsRunning()) << "the wrapper holds no thread afterwards";
    EXPECT_FALSE(worker.Stop(nullptr, 100)) << "nothing left to stop";
    worker.release.Set();
    while (!worker.finished) {  // the members the abandoned Run uses must outlive it
        std::this_thread::yield();
    }
}

TEST(WorkerThreadTest, ZeroAndNegativeTimeoutsMeanNoPracticalLimit) {
    for (int timeout : {0, -1}) {
        GatedWorker worker;
        ASSERT_TRUE(worker.Start());
        std::thread releaser([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(350));
            worker.release.Set();
        });
        EXPECT_TRUE(worker.Stop(nullptr, timeout)) << "timeout " << timeout;
        releaser.join();
        EXPECT_TRUE(worker.finished);
    }
}

TEST(WorkerThreadTest, StopWithoutARunningThreadIsFalse) {
    GatedWorker worker;
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_FALSE(worker.Stop(nullptr, 100));

    worker.release.Set();
    ASSERT_TRUE(worker.Start());
    while (worker.IsRunning()) {
        std::this_thread::yield();
    }
    EXPECT_FALSE(worker.Stop(nullptr, 100)) << "the thread had ended before the stop";
}

// Shares its events with the test, so its Run touches nothing of the wrapper once started.
struct Gates {
    platform::Event entered{true};
    platform::Event release{true};
    platform::Event done{true};
};

class DetachedWorker : public WorkerThread {
public:
    explicit DetachedWorker(std::shared_ptr<Gates> gates) : m_gates(std::move(gates)) {}

protected:
    int Run() override {
        const auto gates = m_gates;  // own copy: the worker may be destroyed while it waits
        gates->entered.Set();
        gates->release.Wait(platform::kWaitForever);
        gates->done.Set();
        return 0;
    }

private:
    std::shared_ptr<Gates> m_gates;
};

TEST(WorkerThreadTest, AnAbandonedThreadMayOutliveItsWrapper) {
    const auto gates = std::make_shared<Gates>();
    {
        DetachedWorker worker(gates);
        ASSERT_TRUE(worker.Start());
        ASSERT_TRUE(gates->entered.Wait(10000));
        EXPECT_FALSE(worker.Stop(nullptr, 100));
    }
    // The thread ends after its wrapper is gone; the sanitizers watch what it touches.
    gates->release.Set();
    ASSERT_TRUE(gates->done.Wait(10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// Threads that end at once while Start and Stop race them: hammer it under ThreadSanitizer.
class QuickWorker : public WorkerThread {
public:
    ~QuickWorker() override { WorkerThread::Stop(nullptr, 0); }
    std::atomic<int> runs{0};

protected:
    int Run() override {
        ++runs;
        return 0;
    }
};

TEST(WorkerThreadTest, QuickThreadsRacingStartAndStop) {
    QuickWorker worker;
    int started = 0;
    for (int i = 0; i < 300; ++i) {
        if (worker.Start()) {
            ++started;
        }
        if (i % 2 == 0) {
            worker.Stop(nullptr, 1000);
        }
    }
    worker.Stop(nullptr, 1000);
    while (worker.runs != started) {
        std::this_thread::yield();
    }
    EXPECT_GT(started, 0);
    EXPECT_FALSE(worker.IsRunning());
}

TEST(WorkerThreadTest, ManyWorkersStartAndStopTogether) {
    std::vector<std::unique_ptr<GatedWorker>> workers;
    for (int i = 0; i < 10; ++i) {
        workers.push_back(std::make_unique<GatedWorker>());
        ASSERT_TRUE(workers.back()->Start("site"));
    }
    for (auto& worker : workers) {
        worker->release.Set();
    }
    for (auto& worker : workers) {
        worker->Stop(nullptr, 100000);  // false when it had already ended by itself
        EXPECT_TRUE(worker->finished);
        EXPECT_FALSE(worker->IsRunning());
    }
}

}  // namespace
}  // namespace lumidex
