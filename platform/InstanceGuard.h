// The named single-instance guard. A lock file named after the guard, held with flock: the
// kernel drops the lock when the holder exits in any way, so a crashed copy never blocks
// the next start.
#pragma once

#include <optional>
#include <string>

namespace lumidex::platform {

struct GuardAttempt;

class InstanceGuard {
public:
    // Takes the guard "name" in directory (default: $XDG_RUNTIME_DIR, else the fallback
    // directory with the user id in the file name, so two users do not shut each other out).
    // A lock file that cannot be made in directory is tried once more in the fallback.
    static GuardAttempt Acquire(const std::string& name, const std::string& directory = {},
                                const std::string& fallbackDirectory = "/tmp");
    // The lock file a guard of this name uses.
    static std::string LockPath(const std::string& name, const std::string& directory = {},
                                const std::string& fallbackDirectory = "/tmp");

    InstanceGuard(InstanceGuard&& other) noexcept;
    InstanceGuard& operator=(InstanceGuard&& other) noexcept;
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;
    ~InstanceGuard();

private:
    explicit InstanceGuard(int fd) : m_fd(fd) {}
    static GuardAttempt TryPath(const std::string& path);
    int m_fd = -1;
};

// What an attempt to take the guard came to. Only HeldElsewhere means another copy runs.
struct GuardAttempt {
    enum class Outcome { Acquired, HeldElsewhere, CannotCreate };
    Outcome outcome = Outcome::CannotCreate;
    std::optional<InstanceGuard> guard;
    std::string path;  // the lock file tried last
    int error = 0;     // errno of a lock file that could not be made

    explicit operator bool() const { return guard.has_value(); }
};

}  // namespace lumidex::platform
