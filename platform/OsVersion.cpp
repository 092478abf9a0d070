#include "platform/OsVersion.h"

#include <sys/utsname.h>

#include <fstream>
#include <string_view>

#include "platform/AsciiCase.h"
#include "platform/StandInLimits.h"

namespace lumidex::platform {
namespace {

uint16_t NtFlags(const OsVersionRecord& r) {
    if (r.major == 6 && r.minor == 0) {
        return r.productType == kNtWorkstation ? kOsWinVista : kOsWinLonghorn;
    }
    if (r.major == 5 && r.minor == 2) {
        if (r.serverR2) {
            return kOsWin2003R2;
        }
        if (r.productType == kNtWorkstation && r.nativeArchitecture == kArchitectureAmd64) {
            return kOsWinXp64;
        }
        return kOsWin2003;
    }
    if (r.major == 5 && r.minor == 1) {
        return NamesEqual(r.servicePack, "service pack 2") ? kOsWinXpSp2 : kOsWinXp;
    }
    if (r.major == 5 && r.minor == 0) {
        return kOsWin2000;
    }
    if ((r.major == 4 && r.minor == 0) || (r.major == 3 && r.minor == 51)) {
        return kOsWinNt;
    }
    return 0;
}

uint16_t NineXFlags(const OsVersionRecord& r) {
    if (r.major != 4) {
        return 0;
    }
    if (r.minor == 0 || r.minor == 10) {
        return kOsWin98;
    }
    return r.minor == 90 ? kOsWinMe : 0;
}

std::string ReadCapped(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text(kOsReleaseMaxBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

// os-release values follow shell quoting: "..." with \ escaping " \ $ `, '...' literal, or a
// bare word.
std::string Unquote(std::string_view value) {
    if (value.empty() || (value[0] != '"' && value[0] != '\'')) {
        return std::string(value);
    }
    const char quote = value[0];
    std::string out;
    for (std::size_t i = 1; i < value.size(); ++i) {
        const char c = value[i];
        if (c == quote) {
            break;
        }
        if (quote == '"' && c == '\\' && i + 1 < value.size()) {
            out += value[++i];
            continue;
        }
        out += c;
    }
    return out;
}

}  // namespace

uint16_t OsFlagsFor(const OsVersionRecord& record) {
    if (!record.available) {
        return 0;
    }
    switch (record.platformId) {
        case kPlatformWin32Windows:
            return NineXFlags(record);
        case kPlatformWin32Nt:
            return NtFlags(record);
        default:
            return 0;
    }
}

std::string PrettyNameOf(const std::string& osRelease) {
    constexpr std::string_view kKey = "PRETTY_NAME=";
    std::size_t pos = 0;
    while (pos < osRelease.size()) {
        std::size_t end = osRelease.find('\n', pos);
        if (end == std::string::npos) {
            end = osRelease.size();
        }
        std::string_view line(osRelease.data() + pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.starts_with(kKey)) {
            std::string name = Unquote(line.substr(kKey.size()));
            if (name.size() > kOsNameMaxBytes) {
                name.resize(kOsNameMaxBytes);
            }
            return name;
        }
    }
    return {};
}

OsVersionRecord QueryOsVersion(const std::string& rootDir) {
    OsVersionRecord record;
    record.available = true;
    // The standard's order: /etc first, the vendor's copy under /usr/lib second.
    for (const char* tail : {"/etc/os-release", "/usr/lib/os-release"}) {
        record.systemName = PrettyNameOf(ReadCapped(rootDir + tail));
        if (!record.systemName.empty()) {
            return record;
        }
    }
    utsname names{};
    if (::uname(&names) == 0) {
        record.systemName = std::string(names.sysname) + " " + names.release;
    }
    return record;
}

}  // namespace lumidex::platform
