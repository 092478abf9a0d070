// Probes run on threads of their own so that silent hosts are waited for side by side, while
// the walk still takes each result at its place in the list. What a task writes to the log or
// the findings text is recorded with its result (ProbeCapture) for the walk to replay.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/ProbeCapture.h"

namespace lumidex {

// At most this many probes of one runner are under way at a time.
inline constexpr int kMaxConcurrentProbes = 16;

template <class R>
struct Captured {
    R value{};
    ProbeCapture capture;
    // The value, after writing what the task recorded; once per result.
    const R& Replayed() const {
        capture.Replay();
        return value;
    }
};

template <class R>
using ProbeFuture = std::shared_future<Captured<R>>;

// Destroying the runner abandons its tasks: those not yet begun never begin (their results
// hold the default value), running ones have their cancel hooks called (which close their
// sockets), and the destructor waits for every thread, so no task outlives what it uses.
class ProbeTasks {
public:
    explicit ProbeTasks(int limit = kMaxConcurrentProbes) : m_limit(limit) {}
    ~ProbeTasks();
    ProbeTasks(const ProbeTasks&) = delete;
    ProbeTasks& operator=(const ProbeTasks&) = delete;

    // Callable from any thread, a task's own included.
    template <class R>
    ProbeFuture<R> Start(std::function<R()> work);

    void Cancel();
    bool Cancelled() const;

    // While it lives, a cancel of the runner calls onCancel (at once when already cancelled).
    // onCancel must be safe to call from another thread than the task's. Without a runner
    // (nullptr) it does nothing and is never cancelled.
    class CancelHook {
    public:
        CancelHook(ProbeTasks* tasks, std::function<void()> onCancel);
        ~CancelHook();
        CancelHook(const CancelHook&) = delete;
        CancelHook& operator=(const CancelHook&) = delete;

        bool Cancelled() const { return m_tasks != nullptr && m_tasks->Cancelled(); }

    private:
        ProbeTasks* m_tasks;
        int m_id = 0;
    };

private:
    // Slots go out in the order the tasks were started, so the walk's first probes go first.
    std::uint64_t TakeTicket();
    bool AcquireSlot(std::uint64_t ticket);
    void ReleaseSlot();
    // Gives a task's slot back on every way out of it, a throw included.
    class SlotGuard {
    public:
        explicit SlotGuard(ProbeTasks& tasks) : m_tasks(tasks) {}
        ~SlotGuard() { m_tasks.ReleaseSlot(); }
        SlotGuard(const SlotGuard&) = delete;
        SlotGuard& operator=(const SlotGuard&) = delete;

    private:
        ProbeTasks& m_tasks;
    };
    void Launch(std::function<void()> body);

    const int m_limit;
    mutable std::mutex m_mutex;
    std::condition_variable m_slotFreed;
    int m_running = 0;
    std::uint64_t m_nextTicket = 0;
    std::uint64_t m_nextToRun = 0;
    bool m_cancelled = false;
    int m_nextHook = 0;
    std::map<int, std::function<void()>> m_hooks;
    std::vector<std::thread> m_threads;
};

template <class R>
ProbeFuture<R> ProbeTasks::Start(std::function<R()> work) {
    auto promise = std::make_shared<std::promise<Captured<R>>>();
    ProbeFuture<R> future = promise->get_future().share();
    Launch([this, promise, ticket = TakeTicket(), work = std::move(work)] {
        Captured<R> result;
        try {
            if (AcquireSlot(ticket)) {
                const SlotGuard slot(*this);
                CaptureScope scope(result.capture);
                result.value = work();
            }
        } catch (...) {
            // An exception taken by the walk would end the program on its thread: a task that
            // throws gives the default result, as one abandoned before it began.
            result = Captured<R>{};
        }
        promise->set_value(std::move(result));
    });
    return future;
}

}  // namespace lumidex
