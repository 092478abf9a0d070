// One way to retry a call that a signal interrupted, and one value naming a failed system
// step with its errno, so call sites neither loop on EINTR by hand nor format errors each
// their own way.
#pragma once

#include <cerrno>
#include <string>
#include <string_view>
#include <type_traits>

namespace lumidex::platform {

// Calls fn until it does not fail with EINTR. fn returns -1 (or a negative value) on failure
// with errno set, as the C library does.
template <typename Fn>
auto RetryAfterSignal(Fn&& fn) -> decltype(fn()) {
    decltype(fn()) result;
    do {
        errno = 0;
        result = fn();
    } while (result < 0 && errno == EINTR);
    return result;
}

// A failed step of a system call, e.g. {"connect", ECONNREFUSED}.
struct SystemError {
    std::string_view step;
    int error = 0;

    // "connect: Connection refused"
    std::string Message() const;
    static SystemError Last(std::string_view step) { return {step, errno}; }
};

// strerror_r's text for an errno value, thread-safe.
std::string ErrnoText(int error);

}  // namespace lumidex::platform
