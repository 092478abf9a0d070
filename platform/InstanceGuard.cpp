#include "platform/InstanceGuard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <utility>

namespace lumidex::platform {

std::string InstanceGuard::LockPath(const std::string& name, const std::string& directory) {
    if (!directory.empty()) {
        return directory + "/" + name + ".lock";
    }
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime) {
        return std::string(runtime) + "/" + name + ".lock";
    }
    return "/tmp/" + name + "-" + std::to_string(getuid()) + ".lock";
}

std::optional<InstanceGuard> InstanceGuard::Acquire(const std::string& name,
                                                    const std::string& directory) {
    const std::string path = LockPath(name, directory);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return std::nullopt;
    }
    InstanceGuard guard(fd);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return std::nullopt;
    }
    return guard;
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
