#include "engine/DiagLog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>

#include "engine/ProbeCapture.h"
#include "platform/TextCodec.h"
#include "platform/UniqueFd.h"
#include "platform/WinePaths.h"

namespace lumidex {
namespace {

// Room for the formatted header and prefix, with every number at its widest (11 characters
// for an int, 20 for the year, which is computed in long long).
constexpr std::size_t kHeaderBytes = 256;
constexpr std::size_t kPrefixBytes = 128;

constexpr const char* kHeaderFormat =
    "#Software: Vantorix network log\r\n"
    "#Version: 1.0\r\n"
    "#Date: %04lld-%02d-%02d 00:00:00\r\n"
    "#Fields: date time senderip senderport senderid readerip readerport datalen msgtype "
    "msginfo\r\n";
constexpr const char* kPrefixFormat = "\r\n%lld-%d-%d %02d:%02d:%02d %d ";

constexpr mode_t kNewFileMode = 0644;
// How long an entry waits for another holder of the file's lock: 20 tries 2 ms apart.
constexpr int kLockAttempts = 20;
constexpr useconds_t kLockRetryMicroseconds = 2000;

long long Year(const std::tm& time) {
    return static_cast<long long>(time.tm_year) + 1900;
}

void AppendHeader(const std::tm& today, std::string& out) {
    char buffer[kHeaderBytes];
    const int length = std::snprintf(buffer, sizeof buffer, kHeaderFormat, Year(today),
                                     today.tm_mon + 1, today.tm_mday);
    if (length > 0) {
        out.append(buffer, std::min(static_cast<std::size_t>(length), sizeof buffer - 1));
    }
}

void AppendPrefix(const std::tm& now, int level, std::string& out) {
    char buffer[kPrefixBytes];
    const int length =
        std::snprintf(buffer, sizeof buffer, kPrefixFormat, Year(now), now.tm_mon + 1, now.tm_mday,
                      now.tm_hour, now.tm_min, now.tm_sec, level);
    if (length > 0) {
        out.append(buffer, std::min(static_cast<std::size_t>(length), sizeof buffer - 1));
    }
}

std::tm RealLocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return local;
}

// One write() for the whole entry in the normal case, so that a crash leaves whole entries.
// A short write goes on with the rest; an error ends the entry where it stands.
void WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (written == 0) {
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

// Exclusive advisory lock on the open file for the time of one entry, so that another process
// which locks the same way (a second copy of this tool) neither interleaves with the entry nor
// adds a second header. Readers are not affected. Released when the descriptor is closed.
//
// Never waits for long: a file that another program keeps locked drops the entry instead of
// stalling the check thread. The retries cover a second copy of this tool, which holds the
// lock only for the microseconds of one write. A file system that does not support locks
// (ENOLCK, EINVAL) still gets the entry.
bool LockForEntry(int fd) {
    for (int attempt = 0;; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK) {
            return true;
        }
        if (attempt >= kLockAttempts) {
            return false;
        }
        ::usleep(kLockRetryMicroseconds);
    }
}

}  // namespace

DiagLog::DiagLog() = default;

void DiagLog::SetPath(std::string path) {
    const std::lock_guard<std::mutex> guard(m_lock);
    m_path = std::move(path);
}

int DiagLog::SetLevel(int level) {
    return m_level.exchange(level);
}

void DiagLog::SetClock(Clock clock) {
    const std::lock_guard<std::mutex> guard(m_lock);
    m_clock = std::move(clock);
}

std::tm DiagLog::Now() const {
    return m_clock ? m_clock() : RealLocalTime();
}

void DiagLog::Write(std::string_view text, int level) {
    // A probe running ahead of the walk records its entry; the walk writes it at its place.
    if (this == &TheDiagLog() && CaptureLog(std::string(text), level)) {
        return;
    }
    if (level > m_level.load()) {
        return;
    }
    // An entry is a C string: received bytes with a NUL in them are logged up to it.
    text = text.substr(0, text.find('\0'));
    const std::string gbkText = platform::Utf8ToGbk(text);

    const std::lock_guard<std::mutex> guard(m_lock);
    if (m_path.empty()) {
        return;
    }
    const std::string hostPath = platform::MapWindowsPath(m_path);
    if (hostPath.empty()) {
        return;
    }
    const platform::UniqueFd fd(::open(
        hostPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, kNewFileMode));
    if (!fd) {
        return;
    }
    if (!LockForEntry(fd.get())) {
        return;
    }

    // One clock reading for header and prefix, so that an entry written at midnight cannot
    // carry a different day than the header above it.
    const std::tm now = Now();
    std::string entry;
    const bool empty = ::lseek(fd.get(), 0, SEEK_END) == 0;
    if (empty) {
        AppendHeader(now, entry);
    }
    AppendPrefix(now, level, entry);
    entry += gbkText;
    WriteAll(fd.get(), entry);
}

DiagLog& TheDiagLog() {
    static DiagLog* const log = new DiagLog();
    return *log;
}

void Log(std::string_view text) {
    TheDiagLog().Write(text, 1);
}

}  // namespace lumidex
