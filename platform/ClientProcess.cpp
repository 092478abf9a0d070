#include "platform/ClientProcess.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <set>

#include "platform/AsciiCase.h"
#include "platform/BoundedFile.h"

namespace lumidex::platform {
namespace {

constexpr std::uint8_t kTcpListen = 0x0A;
constexpr std::string_view kSocketLinkHead = "socket:[";
constexpr std::string_view kProgramSuffix = ".exe";
constexpr const char* kUdpTables[] = {"udp", "udp6"};
constexpr const char* kTcpTables[] = {"tcp", "tcp6"};

// Forward slashes and folded case, so that both forms of a path compare alike.
std::string Comparable(std::string_view path) {
    std::string out = FoldName(path);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

template <typename T>
bool ParseNumber(std::string_view text, int base, T& out) {
    if (text.empty()) {
        return false;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return error == std::errc() && end == text.data() + text.size();
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (at < line.size()) {
        at = line.find_first_not_of(" \t", at);
        if (at == std::string_view::npos) {
            break;
        }
        const std::size_t end = std::min(line.find_first_of(" \t", at), line.size());
        fields.push_back(line.substr(at, end - at));
        at = end;
    }
    return fields;
}

// The entries of dir whose names are all digits (the process and descriptor numbers), at
// most limit of them.
std::vector<std::string> NumberedEntries(const std::string& dir, std::size_t limit) {
    std::vector<std::string> names;
    DIR* handle = ::opendir(dir.c_str());
    if (handle == nullptr) {
        return names;
    }
    while (const dirent* entry = ::readdir(handle)) {
        const std::string_view name = entry->d_name;
        if (name.empty() ||
            !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        if (names.size() == limit) {
            break;
        }
        names.emplace_back(name);
    }
    ::closedir(handle);
    return names;
}

std::set<std::uint64_t> SocketInodes(const std::string& procRoot, int pid) {
    std::set<std::uint64_t> inodes;
    const std::string fdDir = procRoot + "/" + std::to_string(pid) + "/fd";
    for (const std::string& fd : NumberedEntries(fdDir, kMaxDescriptorsLooked)) {
        char target[64];
        const ssize_t length = ::readlink((fdDir + "/" + fd).c_str(), target, sizeof target);
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) {
            continue;
        }
        std::string_view link(target, static_cast<std::size_t>(length));
        if (!link.starts_with(kSocketLinkHead) || !link.ends_with(']')) {
            continue;
        }
        link = link.substr(kSocketLinkHead.size(), link.size() - kSocketLinkHead.size() - 1);
        std::uint64_t inode = 0;
        if (ParseNumber(link, 10, inode)) {
            inodes.insert(inode);
        }
    }
    return inodes;
}

// The process's own network namespace's table, else the reader's.
std::string SocketTable(const std::string& procRoot, int pid, const char* name) {
    for (const std::string& path :
         {procRoot + "/" + std::to_string(pid) + "/net/" + name, procRoot + "/net/" + name}) {
        if (std::optional<std::string> text = ReadBoundedFile(path, kMaxSocketTableBytes)) {
            return std::move(*text);
        }
    }
    return {};
}

std::vector<std::string> CommandLine(const std::string& procRoot, const std::string& pid) {
    std::vector<std::string> args;
    const std::optional<std::string> text =
        ReadBoundedFile(procRoot + "/" + pid + "/cmdline", kMaxCommandLineBytes);
    if (!text) {
        return args;
    }
    std::size_t at = 0;
    while (at < text->size()) {
        const std::size_t end = std::min(text->find('\0', at), text->size());
        args.push_back(text->substr(at, end - at));
        at = end + 1;
    }
    return args;
}

}  // namespace

bool IsProgramUnder(std::string_view argument, std::string_view directory) {
    std::string dir = Comparable(directory);
    if (dir.empty()) {
        return false;
    }
    if (dir.back() != '/') {
        dir += '/';
    }
    const std::string arg = Comparable(argument);
    return arg.size() > dir.size() + kProgramSuffix.size() && arg.starts_with(dir) &&
           arg.ends_with(kProgramSuffix);
}

// Accepted line, as the kernel writes it (fields separated by blanks):
//   sl: local-hex-address:hex-port remote:port hex-state tx:rx tr:when retrnsmt uid timeout
//   decimal-inode ...
std::vector<SocketEntry> ParseSocketTable(std::string_view text) {
    std::vector<SocketEntry> entries;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::vector<std::string_view> fields = Fields(text.substr(at, end - at));
        at = end + 1;
        if (fields.size() < 10 || !fields[0].ends_with(':')) {
            continue;  // the header, or a line cut short
        }
        const std::size_t colon = fields[1].rfind(':');
        SocketEntry entry;
        if (colon == std::string_view::npos ||
            !ParseNumber(fields[1].substr(colon + 1), 16, entry.localPort) ||
            !ParseNumber(fields[3], 16, entry.state) || !ParseNumber(fields[9], 10, entry.inode)) {
            continue;
        }
        entries.push_back(entry);
    }
    return entries;
}

ProcessPorts PortsOfProcess(const std::string& procRoot, int pid) {
    ProcessPorts ports;
    const std::set<std::uint64_t> inodes = SocketInodes(procRoot, pid);
    if (inodes.empty()) {
        return ports;
    }
    const auto collect = [&](const char* const(&tables)[2], bool tcp,
                             std::vector<std::uint16_t>& out) {
        for (const char* table : tables) {
            for (const SocketEntry& entry : ParseSocketTable(SocketTable(procRoot, pid, table))) {
                if (inodes.count(entry.inode) != 0 && entry.localPort != 0 &&
                    (!tcp || entry.state == kTcpListen)) {
                    out.push_back(entry.localPort);
                }
            }
        }
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
    };
    collect(kUdpTables, false, ports.udp);
    collect(kTcpTables, true, ports.tcp);
    return ports;
}

ClientProcess FindClientProcess(const std::string& procRoot,
                                const std::vector<std::string>& directories) {
    ClientProcess best;
    std::vector<int> pids;
    for (const std::string& name : NumberedEntries(procRoot, kMaxProcessesLooked)) {
        struct stat st {};
        if (::stat((procRoot + "/" + name).c_str(), &st) != 0 || st.st_uid != ::getuid()) {
            continue;  // another user's: not ours to look into
        }
        const std::vector<std::string> args = CommandLine(procRoot, name);
        // Wine's loader may come first ("wine C:\...\x.exe"); the program is then the second.
        const bool matches = std::any_of(
            args.begin(),
            args.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(args.size(), 2)),
            [&](const std::string& arg) {
                return std::any_of(
                    directories.begin(), directories.end(),
                    [&](const std::string& dir) { return IsProgramUnder(arg, dir); });
            });
        int pid = 0;
        if (matches && ParseNumber(std::string_view(name), 10, pid)) {
            pids.push_back(pid);
        }
    }
    std::sort(pids.begin(), pids.end());
    std::size_t bestSockets = 0;
    for (const int pid : pids) {
        ProcessPorts ports = PortsOfProcess(procRoot, pid);
        const std::size_t sockets = ports.udp.size() + ports.tcp.size();
        if (!best.running || sockets > bestSockets) {
            best.running = true;
            best.pid = pid;
            best.ports = std::move(ports);
            bestSockets = sockets;
        }
    }
    return best;
}

}  // namespace lumidex::platform
