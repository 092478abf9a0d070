// The thread wrapper every worker of the system is built on: start once, ask whether it
// still runs, and stop it with a time budget, waiting in 100 ms slices.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/Event.h"

namespace lumidex {

class WorkerThread {
public:
    // "Practically unlimited": what Stop uses for a time-out of 0 or less.
    static constexpr int kUnlimitedStopMs = 0x5FFFFFFF;
    static constexpr int kStopSliceMs = 100;

    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    // A subclass whose Run may still be executing must stop the thread in its own
    // destructor: by the time this one runs, the subclass's members are gone.
    virtual ~WorkerThread();

    // Starts the thread unless one is running. True when a new thread was created.
    bool Start(std::string_view name = {});
    bool IsRunning();
    // Sets event (when given) each slice and waits for the thread. True when it ended in
    // time; false after the budget or when none ran. Afterwards no thread is held either
    // way; a thread that did not end is left running, never killed.
    bool Stop(platform::Event* event, int timeoutMs);

    std::string Name();
    std::thread::id ThreadId();

protected:
    // Waits without limit until no thread started by this object still runs Run, including
    // threads that Stop gave up on. For destructors of subclasses whose Run uses members.
    void WaitForEveryRun();

    // The thread body.
    virtual int Run() { return 0; }

private:
    struct Handle;
    void ThreadEntry(std::shared_ptr<Handle> handle);
    std::shared_ptr<Handle> CurrentHandle();

    // Guards the name and serialises Start/Stop/IsRunning; recursive because Start and Stop
    // ask IsRunning under it. The thread itself never takes it.
    std::recursive_mutex m_lock;
    std::string m_name;
    // Guards only the handle pointer, held for no more than a copy or a swap, so ThreadId can
    // be asked from any thread while Stop waits under m_lock. The thread never touches it.
    std::mutex m_handleMutex;
    std::shared_ptr<Handle> m_handle;
    // Threads Stop stopped waiting for; kept so that WaitForEveryRun can still wait for them.
    std::vector<std::shared_ptr<Handle>> m_abandoned;
};

}  // namespace lumidex
