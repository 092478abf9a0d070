#include "tools/kelvora-lab/EventLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lumidex::lab {

std::string EscapeWire(std::string_view bytes) {
    constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte > 0x7E) {
            out += "\\x";
            out.push_back(kDigits[byte >> 4]);
            out.push_back(kDigits[byte & 0x0F]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

bool EventLog::Open(const std::string& path, std::string& error) {
    if (path.empty()) {
        m_toStderr = true;
        return true;
    }
    platform::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!fd) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    m_fd = std::move(fd);
    m_toStderr = false;
    return true;
}

void EventLog::Line(std::string_view service, std::string_view text) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - m_start);
    std::string line = std::to_string(elapsed.count());
    line += ' ';
    line += service;
    line += ' ';
    line += text;
    line += '\n';
    const int fd = m_toStderr ? STDERR_FILENO : m_fd.get();
    // A short write to a log file only happens on a full disk; the line is lost then.
    [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
}

}  // namespace lumidex::lab
