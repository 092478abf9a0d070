#include "platform/WinePaths.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "platform/AsciiCase.h"

namespace lumidex::platform {
namespace {

bool HasDriveLetter(std::string_view path) {
    return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

std::string Slashes(std::string_view path) {
    std::string out(path);
    for (char& c : out) {
        if (c == '\\') {
            c = '/';
        }
    }
    return out;
}

// Host directory behind a drive letter, or "" when the prefix has none.
std::string DriveRoot(const std::filesystem::path& prefix, char drive) {
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(drive)));
    std::error_code ec;
    const auto link = prefix / "dosdevices" / std::string{lower, ':'};
    auto target = std::filesystem::canonical(link, ec);
    if (!ec) {
        return target.string();
    }
    if (lower == 'c' && std::filesystem::is_directory(prefix / "drive_c", ec)) {
        return (prefix / "drive_c").string();
    }
    if (lower == 'z') {
        return "/";
    }
    return {};
}

// Appends rest ("/Program Files/kelvora/log/x.txt") to root the way Wine resolves it: each
// component takes the spelling found on disk when only its letter case differs, because
// Windows programs write paths in whatever case they like. Once a component is missing, the
// rest is appended as written (a file about to be created, say).
std::string ResolveUnderRoot(std::string root, std::string_view rest) {
    bool resolving = true;
    std::size_t pos = 0;
    while (pos < rest.size()) {
        const std::size_t next = std::min(rest.find('/', pos), rest.size());
        std::string_view name = rest.substr(pos, next - pos);
        pos = next + 1;
        if (name.empty()) {
            continue;
        }
        std::string spelling(name);
        if (resolving && name != "." && name != "..") {
            std::error_code ec;
            const std::filesystem::path dir = root.empty() ? "/" : root;
            if (!std::filesystem::exists(dir / spelling, ec)) {
                resolving = false;
                for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end;
                     it.increment(ec)) {
                    const std::string found = it->path().filename().string();
                    if (NamesEqual(found, name)) {
                        spelling = found;
                        resolving = true;
                        break;
                    }
                }
            }
        }
        root += '/';
        root += spelling;
    }
    if (!rest.empty() && rest.back() == '/') {
        root += '/';
    }
    return root.empty() ? "/" : root;
}

std::mutex g_chosenMutex;
std::string g_chosenPrefix;

}  // namespace

void SetWinePrefix(std::string prefix) {
    std::lock_guard lock(g_chosenMutex);
    g_chosenPrefix = std::move(prefix);
}

std::string WinePrefix() {
    {
        std::lock_guard lock(g_chosenMutex);
        if (!g_chosenPrefix.empty()) {
            return g_chosenPrefix;
        }
    }
    if (const char* env = std::getenv("WINEPREFIX"); env != nullptr && *env != '\0') {
        return env;
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.wine";
}

std::string MapWindowsPath(std::string_view windowsPath) {
    return MapWindowsPathIn(WinePrefix(), windowsPath);
}

std::string MapWindowsPathIn(const std::string& prefix, std::string_view windowsPath) {
    if (!HasDriveLetter(windowsPath)) {
        return Slashes(windowsPath);
    }
    std::string root = DriveRoot(prefix, windowsPath[0]);
    if (root.empty()) {
        return {};
    }
    if (root.back() == '/') {
        root.pop_back();
    }
    const std::string rest = Slashes(windowsPath.substr(2));
    return rest.empty() ? root + '/' : ResolveUnderRoot(std::move(root), rest);
}

}  // namespace lumidex::platform
