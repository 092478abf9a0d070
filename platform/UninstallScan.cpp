#include "platform/UninstallScan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "platform/AsciiCase.h"
#include "platform/HiveText.h"
#include "platform/SystemError.h"
#include "platform/UniqueFd.h"

namespace lumidex::platform {
namespace {

constexpr std::string_view kWineSignature = "WINE REGISTRY Version 2";
constexpr std::string_view kUninstallPath =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr std::string_view kWowUninstallPath =
    "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr std::string_view kLocationName = "InstallLocation";
constexpr std::string_view kExpandPrefix = "str(2):";
constexpr std::size_t kReadChunkBytes = 64u << 10;

bool FoldedEqual(std::string_view a, std::string_view b) {
    const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return fold(x) == fold(y); });
}

}  // namespace

// A hive has tens of thousands of keys: only a header whose last component is the entry's
// name (which needs no escape) is worth unescaping. The closing bracket is the last one on the
// line, since a bracket inside a name is escaped and the time stamp after it has none.
bool UninstallScanner::MayBeEntryHeader(std::string_view line) const {
    const std::size_t close = line.rfind(']');
    const std::size_t length = m_entryName.size();
    return close != std::string_view::npos && close > length && line[close - length - 1] == '\\' &&
           FoldedEqual(line.substr(close - length, length), m_entryName);
}

UninstallScanner::UninstallScanner(std::string_view entryName)
    : m_entryName(entryName),
      m_nativePath(std::string(kUninstallPath) + std::string(entryName)),
      m_wowPath(std::string(kWowUninstallPath) + std::string(entryName)) {}

void UninstallScanner::Feed(std::string_view bytes) {
    while (!bytes.empty() && !Done()) {
        if (m_skippingLine && !m_atLineStart && m_state == State::Keys) {
            // Between keys the next header is all that matters: jump to it in one search
            // instead of line by line, which is most of the time a large hive costs.
            const void* hit = ::memmem(bytes.data(), bytes.size(), "\n[", 2);
            if (hit == nullptr) {
                m_atLineStart = bytes.back() == '\n';
                m_skippingLine = !m_atLineStart;
                return;
            }
            bytes.remove_prefix(static_cast<const char*>(hit) - bytes.data() + 1);
            m_atLineStart = true;
            m_skippingLine = false;
            continue;
        }
        if (m_atLineStart) {
            m_atLineStart = false;
            m_line.clear();
            // Between keys only a header can matter: other lines are passed over unread.
            m_skippingLine = m_state == State::Keys && bytes.front() != '[';
        }
        const std::size_t newline = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, newline);
        if (!m_skippingLine) {
            if (m_line.size() + piece.size() > kMaxScanLineBytes) {
                m_skippingLine = true;
                m_line.clear();
                if (m_state == State::Signature) {
                    m_state = State::Failed;
                }
            } else {
                m_line.append(piece);
            }
        }
        if (newline == std::string_view::npos) {
            return;
        }
        bytes.remove_prefix(newline + 1);
        m_atLineStart = true;
        if (!m_skippingLine) {
            Line(m_line);
        }
    }
}

void UninstallScanner::Line(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    switch (m_state) {
        case State::Signature:
            m_state =
                hivetext::Trim(line).starts_with(kWineSignature) ? State::Keys : State::Failed;
            return;
        case State::Keys:
        case State::InEntry:
            if (!line.empty() && line.front() == '[') {
                KeyLine(line);
            } else if (m_state == State::InEntry && !line.empty() && line.front() == '"') {
                ValueLine(line);
            }
            return;
        case State::Done:
        case State::Failed:
            return;
    }
}

void UninstallScanner::KeyLine(std::string_view line) {
    m_state = State::Keys;
    if (!MayBeEntryHeader(line)) {
        return;
    }
    std::size_t pos = 1;
    std::string path;
    if (!hivetext::Unescape(line, pos, ']', HiveFormat::Wine, path)) {
        return;
    }
    if (NamesEqual(path, m_wowPath)) {
        m_state = State::InEntry;
        m_inWowEntry = true;
    } else if (NamesEqual(path, m_nativePath)) {
        m_state = State::InEntry;
        m_inWowEntry = false;
    }
}

void UninstallScanner::ValueLine(std::string_view line) {
    std::size_t pos = 1;
    std::string name;
    if (!hivetext::Unescape(line, pos, '"', HiveFormat::Wine, name) ||
        !NamesEqual(name, kLocationName)) {
        return;
    }
    std::string_view data = hivetext::TrimLeft(line.substr(pos));
    if (data.empty() || data.front() != '=') {
        return;
    }
    data = hivetext::TrimLeft(data.substr(1));
    if (data.starts_with(kExpandPrefix)) {
        data.remove_prefix(kExpandPrefix.size());
    }
    if (data.empty() || data.front() != '"') {
        return;  // not text: the reader would not take it for a location either
    }
    std::size_t at = 1;
    std::string text;
    if (!hivetext::Unescape(data, at, '"', HiveFormat::Wine, text)) {
        return;
    }
    if (m_inWowEntry) {
        m_wow = std::move(text);
        m_haveWow = true;
        m_state = State::Done;  // the 32-bit view is the answer whatever follows
        return;
    }
    m_native = std::move(text);
    m_haveNative = true;
}

UninstallScanResult UninstallScanner::Finish() {
    if (!m_atLineStart && !m_skippingLine && !Done()) {
        Line(m_line);
        m_atLineStart = true;
    }
    UninstallScanResult result;
    if (m_state == State::Failed || m_state == State::Signature) {
        result.status = ScanStatus::NotAHive;
        result.reason = "not a Wine registry file";
        return result;
    }
    if (m_haveWow || m_haveNative) {
        result.status = ScanStatus::Found;
        result.installLocation = m_haveWow ? m_wow : m_native;
        return result;
    }
    result.status = ScanStatus::NoEntry;
    result.reason = "no uninstall entry " + m_nativePath.substr(kUninstallPath.size());
    return result;
}

UninstallScanResult ScanUninstallEntry(const std::string& hivePath, std::string_view entryName,
                                       std::size_t byteLimit) {
    UninstallScanResult failed;
    failed.status = ScanStatus::Unreadable;
    // Non-blocking open: a FIFO planted in place of the hive must not hang the search.
    UniqueFd fd(RetryAfterSignal(
        [&] { return ::open(hivePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); }));
    if (!fd) {
        failed.reason = SystemError::Last("open").Message();
        return failed;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        failed.reason = "not a regular file";
        return failed;
    }
    UninstallScanner scanner(entryName);
    std::array<char, kReadChunkBytes> chunk;
    std::size_t total = 0;
    bool cut = false;
    while (!scanner.Done()) {
        if (total >= byteLimit) {
            cut = true;
            break;
        }
        const std::size_t want = std::min(chunk.size(), byteLimit - total);
        const ssize_t got = RetryAfterSignal([&] { return ::read(fd.get(), chunk.data(), want); });
        if (got < 0) {
            failed.reason = SystemError::Last("read").Message();
            return failed;
        }
        if (got == 0) {
            break;
        }
        total += static_cast<std::size_t>(got);
        scanner.Feed(std::string_view(chunk.data(), static_cast<std::size_t>(got)));
    }
    UninstallScanResult result = scanner.Finish();
    if (cut && result.status == ScanStatus::NoEntry) {
        result.reason += " in the first " + std::to_string(byteLimit >> 20) + " MiB read";
    }
    return result;
}

}  // namespace lumidex::platform
