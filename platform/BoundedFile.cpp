#include "platform/BoundedFile.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/SystemError.h"
#include "platform/UniqueFd.h"

namespace lumidex::platform {

std::optional<std::string> ReadBoundedFile(const std::filesystem::path& path,
                                           std::size_t maxBytes) {
    UniqueFd fd(RetryAfterSignal([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }));
    if (!fd) {
        return std::nullopt;
    }
    std::string content;
    constexpr std::size_t kChunk = 4096;
    while (content.size() < maxBytes) {
        const std::size_t want = std::min(kChunk, maxBytes - content.size());
        const std::size_t old = content.size();
        content.resize(old + want);
        const ssize_t got =
            RetryAfterSignal([&] { return ::read(fd.get(), content.data() + old, want); });
        if (got < 0) {
            return std::nullopt;
        }
        content.resize(old + static_cast<std::size_t>(got));
        if (got == 0) {
            break;
        }
    }
    return content;
}

}  // namespace lumidex::platform
