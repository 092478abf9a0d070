#include "platform/InstanceGuard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace lumidex::platform {

namespace {

std::string FallbackPath(const std::string& name, const std::string& fallbackDirectory) {
    return fallbackDirectory + "/" + name + "-" + std::to_string(getuid()) + ".lock";
}

}  // namespace

std::string InstanceGuard::LockPath(const std::string& name, const std::string& directory,
                                    const std::string& fallbackDirectory) {
    if (!directory.empty()) {
        return directory + "/" + name + ".lock";
    }
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime) {
        return std::string(runtime) + "/" + name + ".lock";
    }
    return FallbackPath(name, fallbackDirectory);
}

GuardAttempt InstanceGuard::TryPath(const std::string& path) {
    GuardAttempt attempt;
    attempt.path = path;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        attempt.error = errno;
        return attempt;
    }
    InstanceGuard guard(fd);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // A file system without locks cannot tell us about another copy: no guard then.
        attempt.outcome = errno == EWOULDBLOCK ? GuardAttempt::Outcome::HeldElsewhere
                                               : GuardAttempt::Outcome::CannotCreate;
        attempt.error = errno;
        return attempt;
    }
    attempt.outcome = GuardAttempt::Outcome::Acquired;
    attempt.guard.emplace(std::move(guard));
    return attempt;
}

GuardAttempt InstanceGuard::Acquire(const std::string& name, const std::string& directory,
                                    const std::string& fallbackDirectory) {
    const std::string path = LockPath(name, directory, fallbackDirectory);
    GuardAttempt attempt = TryPath(path);
    if (attempt.outcome != GuardAttempt::Outcome::CannotCreate) {
        return attempt;
    }
    const std::string fallback = FallbackPath(name, fallbackDirectory);
    if (fallback == path) {
        return attempt;
    }
    return TryPath(fallback);
}

InstanceGuard::InstanceGuard(InstanceGuard&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)) {}

InstanceGuard& InstanceGuard::operator=(InstanceGuard&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

InstanceGuard::~InstanceGuard() {
    // Closing the descriptor releases the lock; the file stays so that a waiting copy and
    // the holder always lock the same inode.
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

}  // namespace lumidex::platform
