// A cancel flag that also wakes a poll: Cancel from any thread makes Wait return at once, so a
// probe waiting on its socket ends without waiting out its time-out.
#pragma once

#include <atomic>
#include <chrono>

#include "platform/UniqueFd.h"

namespace lumidex::platform {

enum class SocketWait {
    Readable,    // a datagram waits
    ErrorQueue,  // an error waits (POLLERR: with IP_RECVERR, on the error queue)
    TimedOut,
    Cancelled,
    Failed,  // the poll itself failed
};

class CancelSignal {
public:
    CancelSignal();
    CancelSignal(const CancelSignal&) = delete;
    CancelSignal& operator=(const CancelSignal&) = delete;

    void Cancel();
    bool Cancelled() const { return m_cancelled.load(); }

    // Waits until fd is readable or has an error, the deadline passes or Cancel is called.
    // An error is reported before a datagram, so the error queue is drained first.
    SocketWait Wait(int fd, std::chrono::steady_clock::time_point deadline) const;

private:
    std::atomic<bool> m_cancelled{false};
    // When no eventfd can be had the wait polls the flag in short slices instead.
    UniqueFd m_wake;
};

}  // namespace lumidex::platform
