#include "platform/WinePaths.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <system_error>

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
std::string DriveRoot(char drive) {
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(drive)));
    const std::filesystem::path prefix = WinePrefix();
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

}  // namespace

std::string WinePrefix() {
    if (const char* env = std::getenv("WINEPREFIX"); env != nullptr && *env != '\0') {
        return env;
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.wine";
}

std::string MapWindowsPath(std::string_view windowsPath) {
    if (!HasDriveLetter(windowsPath)) {
        return Slashes(windowsPath);
    }
    std::string root = DriveRoot(windowsPath[0]);
    if (root.empty()) {
        return {};
    }
    std::string rest = Slashes(windowsPath.substr(2));
    if (rest.empty() || rest.front() != '/') {
        rest.insert(rest.begin(), '/');
    }
    if (root.back() == '/') {
        root.pop_back();
    }
    return root + rest;
}

}  // namespace lumidex::platform
