// The way work reaches a window's thread. Posted tasks are queued and run later in order;
// sent tasks make the caller wait until the owner thread ran them. Closing the queue (the
// window went away) releases every waiting sender at once, so a worker can never wait for a
// window that will not answer again.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/UniqueFd.h"

namespace lumidex::platform {

class MessageQueue {
public:
    using Task = std::function<void()>;

    // The constructing thread owns the queue and is the one that runs its tasks.
    MessageQueue();
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;
    ~MessageQueue();

    // Queues task; never waits. Dropped when the queue is closed.
    void Post(Task task);
    // Runs task on the owner thread and waits for it. Called on the owner thread itself it
    // runs at once. False, without running it, when the queue is or becomes closed.
    bool Send(Task task);
    // Owner thread: runs every queued task, waiting up to waitMs for the first one.
    // Returns the number of tasks run.
    int ProcessPending(int waitMs);
    // Drops pending tasks and fails every current and future Send.
    void Close();
    bool IsClosed() const;
    bool IsOwnerThread() const { return std::this_thread::get_id() == m_owner; }
    // A descriptor that becomes readable when a task is queued or the queue closes, so an
    // event loop (the desktop window's) can sleep until there is work instead of polling.
    // ProcessPending clears it; a wake-up may come with nothing left to do. -1 when the
    // system gave no descriptor; pumping on a timer still works then.
    int WakeFd() const { return m_wake.get(); }

private:
    struct Item;
    void Wake();
    void ClearWake();

    const std::thread::id m_owner;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::shared_ptr<Item>> m_items;
    bool m_closed = false;
    platform::UniqueFd m_wake;
};

}  // namespace lumidex::platform
