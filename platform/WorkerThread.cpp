#include "platform/WorkerThread.h"

#include <chrono>
#include <condition_variable>
#include <system_error>

namespace lumidex {

// What stays of a thread once it is released: its end can be awaited by whoever still holds
// a reference, even after the wrapper forgot it.
struct WorkerThread::Handle {
    std::mutex mutex;
    std::condition_variable ended;
    bool finished = false;
    int exitCode = 0;
    std::thread::id id;

    bool Finished() {
        std::lock_guard lock(mutex);
        return finished;
    }
    bool WaitFinished(int timeoutMs) {
        std::unique_lock lock(mutex);
        return ended.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return finished; });
    }
};

WorkerThread::~WorkerThread() {
    if (IsRunning()) {
        Stop(nullptr, 0);
    }
}

std::shared_ptr<WorkerThread::Handle> WorkerThread::CurrentHandle() {
    std::lock_guard lock(m_handleMutex);
    return m_handle;
}

bool WorkerThread::Start(std::string_view name) {
    std::lock_guard lock(m_lock);
    if (!name.empty()) {
        m_name = name;
    }
    if (IsRunning()) {
        return false;
    }
    auto handle = std::make_shared<Handle>();
    {
        std::lock_guard handleLock(m_handleMutex);
        m_handle = handle;
    }
    try {
        std::lock_guard idLock(handle->mutex);
        std::thread thread(&WorkerThread::ThreadEntry, this, handle);
        handle->id = thread.get_id();
        thread.detach();
    } catch (const std::system_error&) {
        std::lock_guard handleLock(m_handleMutex);
        m_handle.reset();
        return false;
    }
    return true;
}

void WorkerThread::ThreadEntry(std::shared_ptr<Handle> handle) {
    const int exitCode = Run();
    // From here on the wrapper may already be gone (Stop gave up on this thread and its owner
    // was destroyed), so only the handle, which this thread co-owns, is touched. The wrapper
    // sees the end through the handle and lets go of its reference on its next call.
    {
        std::lock_guard lock(handle->mutex);
        handle->finished = true;
        handle->exitCode = exitCode;
    }
    handle->ended.notify_all();
}

bool WorkerThread::IsRunning() {
    std::lock_guard lock(m_lock);
    const auto handle = CurrentHandle();
    return handle && !handle->Finished();
}

bool WorkerThread::Stop(platform::Event* event, int timeoutMs) {
    std::lock_guard lock(m_lock);
    int budget = timeoutMs > 0 ? timeoutMs : kUnlimitedStopMs;
    bool ended = false;
    while (IsRunning()) {
        if (event != nullptr) {
            event->Set();
        }
        const auto handle = CurrentHandle();
        if (!handle || handle->WaitFinished(kStopSliceMs)) {
            ended = true;
            break;
        }
        budget -= kStopSliceMs;
        if (budget <= 0) {
            break;
        }
    }
    std::lock_guard handleLock(m_handleMutex);
    if (!ended && m_handle && !m_handle->Finished()) {
        std::erase_if(m_abandoned, [](const auto& h) { return h->Finished(); });
        m_abandoned.push_back(m_handle);
    }
    m_handle.reset();
    return ended;
}

void WorkerThread::WaitForEveryRun() {
    std::vector<std::shared_ptr<Handle>> handles;
    {
        std::lock_guard lock(m_lock);
        std::lock_guard handleLock(m_handleMutex);
        handles = m_abandoned;
        if (m_handle) {
            handles.push_back(m_handle);
        }
    }
    for (const auto& handle : handles) {
        while (!handle->WaitFinished(kStopSliceMs)) {
        }
    }
}

std::string WorkerThread::Name() {
    std::lock_guard lock(m_lock);
    return m_name;
}

std::thread::id WorkerThread::ThreadId() {
    const auto handle = CurrentHandle();
    if (!handle) {
        return {};
    }
    std::lock_guard lock(handle->mutex);
    return handle->id;
}

}  // namespace lumidex
