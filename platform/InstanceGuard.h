// The named single-instance guard. A lock file named after the guard, held with flock: the
// kernel drops the lock when the holder exits in any way, so a crashed copy never blocks
// the next start.
#pragma once

#include <optional>
#include <string>

namespace lumidex::platform {

class InstanceGuard {
public:
    // Takes the guard "name" in directory (default: $XDG_RUNTIME_DIR, else /tmp with the
    // user id in the file name, so two users do not shut each other out). Empty when another
    // holder has it or the lock file cannot be made.
    static std::optional<InstanceGuard> Acquire(const std::string& name,
                                                const std::string& directory = {});
    // The lock file a guard of this name uses.
    static std::string LockPath(const std::string& name, const std::string& directory = {});

    InstanceGuard(InstanceGuard&& other) noexcept;
    InstanceGuard& operator=(InstanceGuard&& other) noexcept;
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;
    ~InstanceGuard();

private:
    explicit InstanceGuard(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

}  // namespace lumidex::platform
