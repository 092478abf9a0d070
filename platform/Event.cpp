#include "platform/Event.h"

#include <chrono>

namespace lumidex::platform {

void Event::Set() {
    {
        std::lock_guard lock(m_mutex);
        m_signalled = true;
    }
    if (m_manualReset) {
        m_cv.notify_all();
    } else {
        m_cv.notify_one();
    }
}

void Event::Reset() {
    std::lock_guard lock(m_mutex);
    m_signalled = false;
}

bool Event::Wait(int timeoutMs) {
    std::unique_lock lock(m_mutex);
    const auto signalled = [this] { return m_signalled; };
    if (timeoutMs < 0) {
        m_cv.wait(lock, signalled);
    } else if (!m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), signalled)) {
        return false;
    }
    if (!m_manualReset) {
        m_signalled = false;
    }
    return true;
}

}  // namespace lumidex::platform
