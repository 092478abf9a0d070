#include "engine/ProbeTasks.h"

#include <system_error>

namespace lumidex {

ProbeTasks::~ProbeTasks() {
    Cancel();
    // A task may start another while this waits: take threads until none is left.
    while (true) {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(m_mutex);
            threads.swap(m_threads);
        }
        if (threads.empty()) {
            break;
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
    }
}

void ProbeTasks::Cancel() {
    std::lock_guard lock(m_mutex);
    if (m_cancelled) {
        return;
    }
    m_cancelled = true;
    // Under the lock, so that no hook runs after its CancelHook is gone.
    for (auto& [id, hook] : m_hooks) {
        hook();
    }
    m_slotFreed.notify_all();
}

bool ProbeTasks::Cancelled() const {
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

void ProbeTasks::Launch(std::function<void()> body) {
    std::unique_lock lock(m_mutex);
    try {
        m_threads.emplace_back(body);
        return;
    } catch (const std::system_error&) {
    }
    // No thread to be had: the task runs here, so its result still arrives.
    lock.unlock();
    body();
}

std::uint64_t ProbeTasks::TakeTicket() {
    std::lock_guard lock(m_mutex);
    return m_nextTicket++;
}

bool ProbeTasks::AcquireSlot(std::uint64_t ticket) {
    std::unique_lock lock(m_mutex);
    m_slotFreed.wait(lock, [this, ticket] {
        return m_cancelled || (ticket == m_nextToRun && m_running < m_limit);
    });
    if (m_cancelled) {
        return false;
    }
    ++m_nextToRun;
    ++m_running;
    m_slotFreed.notify_all();
    return true;
}

void ProbeTasks::ReleaseSlot() {
    std::lock_guard lock(m_mutex);
    --m_running;
    m_slotFreed.notify_all();
}

ProbeTasks::CancelHook::CancelHook(ProbeTasks* tasks, std::function<void()> onCancel)
    : m_tasks(tasks) {
    if (m_tasks == nullptr) {
        return;
    }
    std::lock_guard lock(m_tasks->m_mutex);
    m_id = m_tasks->m_nextHook++;
    if (m_tasks->m_cancelled) {
        onCancel();
    }
    m_tasks->m_hooks.emplace(m_id, std::move(onCancel));
}

ProbeTasks::CancelHook::~CancelHook() {
    if (m_tasks == nullptr) {
        return;
    }
    std::lock_guard lock(m_tasks->m_mutex);
    m_tasks->m_hooks.erase(m_id);
}

}  // namespace lumidex
