// Threads started for one piece of work and joined together. Join may be called from two
// threads at once (a stop abandons the work while a collect waits for it): the second waits
// for the first to finish joining.
#pragma once

#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace lumidex::platform {

class ThreadGroup {
public:
    ThreadGroup() = default;
    ThreadGroup(const ThreadGroup&) = delete;
    ThreadGroup& operator=(const ThreadGroup&) = delete;
    ~ThreadGroup() { Join(); }

    template <class Work>
    void Start(Work&& work) {
        std::lock_guard lock(m_mutex);
        m_threads.emplace_back(std::forward<Work>(work));
    }

    void Join() {
        std::lock_guard lock(m_mutex);
        for (std::thread& thread : m_threads) {
            thread.join();
        }
        m_threads.clear();
    }

private:
    std::mutex m_mutex;
    std::vector<std::thread> m_threads;
};

}  // namespace lumidex::platform
