#include "platform/MessageQueue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

#include "platform/SystemError.h"

namespace lumidex::platform {

struct MessageQueue::Item {
    Task task;
    bool sent = false;     // a sender waits for done
    bool running = false;  // the task may touch the sender's stack: it must not leave yet
    bool done = false;
};

MessageQueue::MessageQueue()
    : m_owner(std::this_thread::get_id()), m_wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

MessageQueue::~MessageQueue() {
    Close();
}

void MessageQueue::Post(Task task) {
    {
        std::lock_guard lock(m_mutex);
        if (m_closed) {
            return;
        }
        m_items.push_back(std::make_shared<Item>(Item{std::move(task)}));
    }
    m_changed.notify_all();
    Wake();
}

void MessageQueue::Wake() {
    if (!m_wake) {
        return;
    }
    const std::uint64_t one = 1;
    // A full counter (it never gets near) or a closed descriptor only costs a wake-up.
    [[maybe_unused]] const ssize_t written =
        RetryAfterSignal([&] { return ::write(m_wake.get(), &one, sizeof one); });
}

void MessageQueue::ClearWake() {
    if (!m_wake) {
        return;
    }
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read =
        RetryAfterSignal([&] { return ::read(m_wake.get(), &count, sizeof count); });
}

bool MessageQueue::Send(Task task) {
    if (IsOwnerThread()) {
        if (IsClosed()) {
            return false;
        }
        task();
        return true;
    }
    auto item = std::make_shared<Item>(Item{std::move(task), true});
    std::unique_lock lock(m_mutex);
    if (m_closed) {
        return false;
    }
    m_items.push_back(item);
    m_changed.notify_all();
    // The owner may be asleep in its event loop; the descriptor write does not block.
    Wake();
    m_changed.wait(lock, [&] { return item->done || (m_closed && !item->running); });
    return item->done;
}

int MessageQueue::ProcessPending(int waitMs) {
    std::unique_lock lock(m_mutex);
    if (waitMs != 0) {
        const auto ready = [this] { return !m_items.empty() || m_closed; };
        if (waitMs < 0) {
            m_changed.wait(lock, ready);
        } else {
            m_changed.wait_for(lock, std::chrono::milliseconds(waitMs), ready);
        }
    }
    // Cleared before the items are taken: a task queued from here on wakes the owner again.
    ClearWake();
    int count = 0;
    while (!m_items.empty() && !m_closed) {
        auto item = std::move(m_items.front());
        m_items.pop_front();
        item->running = true;
        lock.unlock();
        item->task();
        ++count;
        lock.lock();
        item->running = false;
        if (item->sent) {
            item->done = true;
            m_changed.notify_all();
        }
    }
    return count;
}

void MessageQueue::Close() {
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_items.clear();
    }
    m_changed.notify_all();
    Wake();
}

bool MessageQueue::IsClosed() const {
    std::lock_guard lock(m_mutex);
    return m_closed;
}

}  // namespace lumidex::platform
