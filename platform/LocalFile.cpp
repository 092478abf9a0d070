#include "platform/LocalFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/WinePaths.h"

namespace lumidex {
namespace {

constexpr mode_t kNewFileMode = 0644;

bool StatPath(std::string_view windowsPath, struct stat& st) {
    const std::string hostPath = platform::MapWindowsPath(windowsPath);
    return !hostPath.empty() && ::stat(hostPath.c_str(), &st) == 0;
}

}  // namespace

std::string LocalFile::ProgramDirectory() {
    char buffer[PATH_MAX];
    const ssize_t got = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (got <= 0 || static_cast<std::size_t>(got) >= sizeof buffer) {
        return ".";
    }
    std::string path(buffer, static_cast<std::size_t>(got));
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

LocalFile::LocalFile() : m_baseDirectory(ProgramDirectory()) {}

LocalFile::LocalFile(std::string baseDirectory) : m_baseDirectory(std::move(baseDirectory)) {}

std::string LocalFile::FullPath(std::string_view name) const {
    if (name.find('\\') != std::string_view::npos) {
        return std::string(name);
    }
    return m_baseDirectory + "\\" + std::string(name);
}

bool LocalFile::Open(std::string_view name, bool writable) {
    Close();
    const std::string fullPath = FullPath(name);
    const std::string hostPath = platform::MapWindowsPath(fullPath);
    if (hostPath.empty()) {
        return false;
    }
    const int access = writable ? O_RDWR : O_RDONLY;
    platform::UniqueFd fd;
    do {
        fd.reset(::open(hostPath.c_str(), access | O_CREAT | O_CLOEXEC | O_NOCTTY, kNewFileMode));
    } while (!fd && errno == EINTR);
    if (!fd) {
        return false;
    }
    if (writable && ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    m_fd = std::move(fd);
    m_currentPath = fullPath;
    return true;
}

bool LocalFile::Truncate(int64_t offset) {
    if (!m_fd) {
        return false;
    }
    off_t position = 0;
    if (offset >= 0) {
        position = ::lseek(m_fd.get(), static_cast<off_t>(offset), SEEK_SET);
    } else {
        position = ::lseek(m_fd.get(), 0, SEEK_CUR);
    }
    if (position < 0) {
        return false;
    }
    int rc = 0;
    do {
        rc = ::ftruncate(m_fd.get(), position);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

void LocalFile::Close() {
    m_fd.reset();
    m_currentPath.clear();
}

bool LocalFile::Exists(std::string_view name) const {
    struct stat st {};
    return StatPath(FullPath(name), st) && !S_ISDIR(st.st_mode);
}

bool LocalFile::IsDirectory(std::string_view path) {
    struct stat st {};
    return StatPath(path, st) && S_ISDIR(st.st_mode);
}

}  // namespace lumidex
