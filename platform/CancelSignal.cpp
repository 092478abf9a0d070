#include "platform/CancelSignal.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace lumidex::platform {
namespace {

// Without an eventfd a cancel is seen within this.
constexpr int kFlagPollSliceMs = 20;

}  // namespace

CancelSignal::CancelSignal() : m_wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

void CancelSignal::Cancel() {
    m_cancelled = true;
    if (m_wake) {
        const std::uint64_t one = 1;
        // The counter only grows: a full one (never reached) is still readable, so the write's
        // result does not matter.
        [[maybe_unused]] const ssize_t written = ::write(m_wake.get(), &one, sizeof one);
    }
}

SocketWait CancelSignal::Wait(int fd, std::chrono::steady_clock::time_point deadline) const {
    while (true) {
        if (m_cancelled) {
            return SocketWait::Cancelled;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return SocketWait::TimedOut;
        }
        pollfd entries[2] = {{fd, POLLIN, 0}, {m_wake.get(), POLLIN, 0}};
        const nfds_t count = m_wake ? 2 : 1;
        const int timeout = m_wake
                                ? static_cast<int>(left.count())
                                : std::min<int>(static_cast<int>(left.count()), kFlagPollSliceMs);
        const int ready = ::poll(entries, count, timeout);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return SocketWait::Failed;
        }
        if (m_cancelled) {
            return SocketWait::Cancelled;
        }
        if (entries[0].revents & POLLERR) {
            return SocketWait::ErrorQueue;
        }
        if (entries[0].revents & POLLIN) {
            return SocketWait::Readable;
        }
        if (entries[0].revents & (POLLHUP | POLLNVAL)) {
            return SocketWait::Failed;
        }
    }
}

}  // namespace lumidex::platform
