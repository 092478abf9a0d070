#include "platform/MessageQueue.h"

#include <chrono>

namespace lumidex::platform {

struct MessageQueue::Item {
    Task task;
    bool sent = false;     // a sender waits for done
    bool running = false;  // the task may touch the sender's stack: it must not leave yet
    bool done = false;
};

MessageQueue::MessageQueue() : m_owner(std::this_thread::get_id()) {}

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
}

bool MessageQueue::IsClosed() const {
    std::lock_guard lock(m_mutex);
    return m_closed;
}

}  // namespace lumidex::platform
