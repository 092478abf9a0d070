#include "app/ResultFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/UniqueFd.h"

namespace lumidex {
namespace {

constexpr mode_t kFileMode = 0644;

// Empty, or the error of the first call that failed; the descriptor is closed either way.
std::string WriteAllAndClose(platform::UniqueFd fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::strerror(errno);
        }
        done += static_cast<std::size_t>(written);
    }
    // A full disk or a network file system may only say so here.
    if (::fsync(fd.get()) != 0 && errno != EINVAL) {
        return std::strerror(errno);
    }
    if (::close(fd.release()) != 0) {
        return std::strerror(errno);
    }
    return {};
}

std::string CreateNew(const std::string& path, const std::string& bytes) {
    platform::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode));
    if (!fd) {
        return std::strerror(errno);
    }
    std::string error = WriteAllAndClose(std::move(fd), bytes);
    if (!error.empty()) {
        ::unlink(path.c_str());  // ours, and incomplete
    }
    return error;
}

std::string ReplaceWhole(const std::string& path, const std::string& bytes) {
    std::vector<char> temporary(path.begin(), path.end());
    const char kSuffix[] = ".XXXXXX";
    temporary.insert(temporary.end(), kSuffix, kSuffix + sizeof kSuffix);
    platform::UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd) {
        return std::strerror(errno);
    }
    // mkostemp makes the file private; the replacement keeps the permissions of the file
    // it replaces.
    struct stat old {};
    ::fchmod(fd.get(), ::stat(path.c_str(), &old) == 0 ? old.st_mode & 07777 : kFileMode);
    std::string error = WriteAllAndClose(std::move(fd), bytes);
    if (error.empty() && ::rename(temporary.data(), path.c_str()) != 0) {
        error = std::strerror(errno);
    }
    if (!error.empty()) {
        ::unlink(temporary.data());
    }
    return error;
}

}  // namespace

std::string WriteResultFile(const std::string& path, const std::string& bytes, bool replace) {
    return replace ? ReplaceWhole(path, bytes) : CreateNew(path, bytes);
}

}  // namespace lumidex
