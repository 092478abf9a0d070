#include "service/HostsFileCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "engine/DiagLog.h"
#include "engine/Endpoints.h"
#include "net/NetAddress.h"
#include "platform/AsciiCase.h"
#include "platform/SystemError.h"
#include "platform/TextCodec.h"
#include "platform/UniqueFd.h"
#include "service/ServiceLimits.h"

namespace lumidex {
namespace {

constexpr char kOpenFailed[] = "打开hosts file失败";
constexpr char kWrongMapping[] = "\r\n映射错误:";
constexpr char kProductMapping[] = "\r\nKLV映射:";
constexpr char kMappingSeparator[] = "<->";
constexpr char kLogMapping[] = "\r\n[hosts file]";

// Shortest address part of a line that is judged ("1.2.3.4").
constexpr std::size_t kMinAddressBytes = 7;
// Every mapping is judged as if it carried this port, so that only the address decides.
constexpr std::uint16_t kJudgedPort = 1000;

constexpr std::uint16_t kWindows9xFlags = 0x0001 | 0x0080;  // 95/98, Me
// 2000, XP, XP SP2, 2003, 2003 R2. NT 3.51/4.0, Vista and later and 64-bit XP get no path, so
// there the check reports the file as not opened, as the Windows tool always did on them.
constexpr std::uint16_t kWindowsNtFlags = 0x0004 | 0x0008 | 0x0010 | 0x0020 | 0x0040;

constexpr std::string_view kBlank = " \t\n\v\f\r";

std::string_view TrimLeft(std::string_view text) {
    const auto first = text.find_first_not_of(kBlank);
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

bool NamesProduct(const std::string& host) {
    return host.find(endpoints::kPrimaryDomain) != std::string::npos ||
           host.find(endpoints::kSecondaryDomain) != std::string::npos;
}

void DropLastSeparator(std::string& text) {
    if (!text.empty()) {
        text.pop_back();
    }
}

}  // namespace

std::optional<std::string> WindowsHostsFilePath(std::uint16_t osFlags, std::string_view windowsDir,
                                                std::string_view systemDir) {
    std::string path;
    if ((osFlags & kWindows9xFlags) != 0) {
        path = std::string(windowsDir) + "\\hosts.asm";
    } else if ((osFlags & kWindowsNtFlags) != 0) {
        path = std::string(systemDir) + "\\drivers\\etc\\hosts";
    } else {
        return std::nullopt;
    }
    if (path.size() >= kMaxHostsPathBytes) {
        return std::nullopt;
    }
    return path;
}

void HostsFileScanner::Line(std::string_view line) {
    // The file was read in text mode: a CR before the line feed is not part of the line.
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    if (line.empty() || line.front() == '#' || line.front() == ';') {
        return;
    }
    line = TrimLeft(line);
    const auto space = line.find(' ');
    if (space == std::string_view::npos || space < kMinAddressBytes) {
        return;
    }
    const std::string_view addressText = line.substr(0, space);
    const std::string_view rest = TrimLeft(line.substr(space + 1));
    const std::string host = platform::FoldName(rest.substr(0, rest.find(' ')));
    if (!NamesProduct(host)) {
        return;
    }
    m_findings.result = 0;
    // No name look-up: a name in the address column gives 255.255.255.255, judged unusable.
    NetAddress address;
    address.Parse(addressText, false);
    address.port = kJudgedPort;
    std::string piece(addressText);
    piece += kMappingSeparator;
    piece += host;
    piece += ',';
    const bool wrong = address.IsPrivate() || !address.IsUsable();
    if (m_findings.problems.size() < kMaxProblemsPerRow) {
        // The row and the log keep the file's bytes; a problem holds UTF-8, and a hosts file
        // written on Windows is GBK where it is not.
        m_findings.problems.push_back(MakeProblem(
            wrong ? ProblemCode::HostsMapsWrongAddress : ProblemCode::HostsMapsProductDomain,
            {platform::Utf8OrGbkToUtf8(host)},
            platform::Utf8OrGbkToUtf8(std::string(addressText) + " " + host)));
    }
    if (wrong) {
        m_findings.wrongMappings += kWrongMapping + piece;
        return;
    }
    m_findings.productMappings += kProductMapping + piece;
    m_findings.logLines.push_back(kLogMapping + address.ToString() + kMappingSeparator + host);
}

HostsFileFindings HostsFileScanner::Finish() {
    DropLastSeparator(m_findings.wrongMappings);
    DropLastSeparator(m_findings.productMappings);
    return std::move(m_findings);
}

HostsFileFindings ScanHostsText(std::string_view text) {
    HostsFileScanner scanner;
    while (!text.empty()) {
        const auto end = text.find('\n');
        scanner.Line(text.substr(0, std::min(end, kMaxHostsLineBytes)));
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    return scanner.Finish();
}

HostsFileFindings ScanHostsFile(const HostsFileRead& read) {
    HostsFileScanner scanner;
    std::array<char, 16 * 1024> buffer;
    std::string line;
    while (true) {
        const std::ptrdiff_t got = read(buffer.data(), buffer.size());
        if (got < 0) {
            // The line the error cut is not known to be whole: only whole lines count.
            return scanner.Finish();
        }
        if (got == 0) {
            break;
        }
        std::string_view chunk(buffer.data(), static_cast<std::size_t>(got));
        while (!chunk.empty()) {
            const auto end = chunk.find('\n');
            const std::string_view piece = chunk.substr(0, end);
            line.append(
                piece.substr(0, kMaxHostsLineBytes - std::min(line.size(), kMaxHostsLineBytes)));
            if (end == std::string_view::npos) {
                break;
            }
            scanner.Line(line);
            line.clear();
            chunk.remove_prefix(end + 1);
        }
    }
    if (!line.empty()) {
        scanner.Line(line);
    }
    return scanner.Finish();
}

int CheckHostsFile(const std::string& path, std::string& wrongMappings,
                   std::string& productMappings) {
    platform::UniqueFd fd(
        platform::RetryAfterSignal([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }));
    const int openError = errno;
    // A directory opens on Linux but is no file to read lines from.
    struct stat status {};
    if (!fd || ::fstat(fd.get(), &status) != 0 || S_ISDIR(status.st_mode)) {
        const std::string reason = !fd ? platform::ErrnoText(openError) : "not a file";
        TheDiagLog().Write(kOpenFailed, 1);
        NoteProblem(MakeProblem(ProblemCode::HostsFileUnreadable, {path}, reason));
        return 0;
    }
    HostsFileFindings findings = ScanHostsFile([&](char* buffer, std::size_t size) {
        return platform::RetryAfterSignal([&] { return ::read(fd.get(), buffer, size); });
    });
    for (const std::string& line : findings.logLines) {
        TheDiagLog().Write(line, 1);
    }
    for (Problem& problem : findings.problems) {
        NoteProblem(std::move(problem));
    }
    wrongMappings = std::move(findings.wrongMappings);
    productMappings = std::move(findings.productMappings);
    return findings.result;
}

}  // namespace lumidex
