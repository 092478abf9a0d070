// A Windows-style event: manual-reset (stays signalled until reset) or auto-reset (one
// successful wait consumes the signal), with timed waits.
#pragma once

#include <condition_variable>
#include <mutex>

namespace lumidex::platform {

inline constexpr int kWaitForever = -1;

class Event {
public:
    explicit Event(bool manualReset, bool initiallySignalled = false)
        : m_manualReset(manualReset), m_signalled(initiallySignalled) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // True when the event was (or became) signalled within timeoutMs; kWaitForever waits
    // without limit. An auto-reset event is reset by the wait that sees it.
    bool Wait(int timeoutMs);

private:
    const bool m_manualReset;
    bool m_signalled;
    std::mutex m_mutex;
    std::condition_variable m_cv;
};

}  // namespace lumidex::platform
