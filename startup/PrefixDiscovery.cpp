#include "startup/PrefixDiscovery.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <set>
#include <utility>

#include <yaml-cpp/yaml.h>

#include "platform/BoundedFile.h"
#include "platform/SystemError.h"
#include "platform/UninstallScan.h"
#include "platform/WinePaths.h"
#include "startup/LumidexApp.h"

namespace lumidex {
namespace {

// A games or bottles folder is read this far at most; the candidates bound applies as well.
constexpr std::size_t kMaxEntriesPerPlace = 2048;

enum class Base { Home, Data, Config };

enum class Layout {
    Prefix,       // the directory itself
    Children,     // each directory in it
    SteamCompat,  // each compatdata/<game>/pfx
    LutrisGames,  // each game file in it names its prefix
};

struct PrefixPlace {
    PrefixSource source;
    Base base;
    const char* path;
    Layout layout;
    const char* reason;
};

// In the order they are looked at; when several prefixes hold the client, the newest user.reg
// decides, this order only among equals.
constexpr PrefixPlace kPlaces[] = {
    {PrefixSource::Default, Base::Home, ".wine", Layout::Prefix,
     "Wine's own default: a plain `wine setup.exe` installs here"},
    {PrefixSource::Bottles, Base::Data, "bottles/bottles", Layout::Children,
     "Bottles (its distribution package) keeps each bottle here, under $XDG_DATA_HOME"},
    {PrefixSource::BottlesFlatpak, Base::Home,
     ".var/app/com.usebottles.bottles/data/bottles/bottles", Layout::Children,
     "the Flatpak of Bottles keeps its bottles in the sandbox's own data directory"},
    {PrefixSource::Lutris, Base::Config, "lutris/games", Layout::LutrisGames,
     "each Lutris game file names its prefix, which may be anywhere"},
    {PrefixSource::Lutris, Base::Data, "lutris/games", Layout::LutrisGames,
     "newer Lutris keeps its game files with its data"},
    {PrefixSource::Lutris, Base::Home, "Games", Layout::Children,
     "Lutris installs into ~/Games/<name> unless told otherwise"},
    {PrefixSource::PlayOnLinux, Base::Home, ".PlayOnLinux/wineprefix", Layout::Children,
     "PlayOnLinux makes one prefix per program here"},
    {PrefixSource::CrossOver, Base::Home, ".cxoffice", Layout::Children, "CrossOver's bottles"},
    {PrefixSource::Winetricks, Base::Data, "wineprefixes", Layout::Children,
     "winetricks' named prefixes (winetricks prefix=NAME), under $XDG_DATA_HOME"},
    {PrefixSource::Steam, Base::Home, ".steam/steam/steamapps/compatdata", Layout::SteamCompat,
     "Proton makes one prefix per Steam game, in its pfx directory"},
    {PrefixSource::Steam, Base::Data, "Steam/steamapps/compatdata", Layout::SteamCompat,
     "Steam's own directory, where ~/.steam/steam does not lead to it"},
};

std::string Joined(const std::string& dir, std::string_view name) {
    if (!dir.empty() && dir.back() == '/') {
        return dir + std::string(name);
    }
    return dir + "/" + std::string(name);
}

bool IsRegularFile(const std::string& path, struct stat& st) {
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

struct Holder {
    std::string path;
    PrefixSource source;
    std::string installLocation;
    timespec userHiveChanged{};
};

bool NewerThan(const timespec& a, const timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

class Search {
public:
    explicit Search(const PrefixEnvironment& environment) : m_env(environment) {}

    void Place(const PrefixPlace& place) {
        const std::string root = Root(place);
        switch (place.layout) {
            case Layout::Prefix:
                m_choice.looked.push_back(root);
                Candidate(root, place.source);
                return;
            case Layout::Children:
                m_choice.looked.push_back(Joined(root, "*"));
                for (const std::string& child : Directory(root)) {
                    Candidate(child, place.source);
                }
                return;
            case Layout::SteamCompat:
                m_choice.looked.push_back(Joined(root, "*/pfx"));
                for (const std::string& child : Directory(root)) {
                    Candidate(Joined(child, "pfx"), place.source);
                }
                return;
            case Layout::LutrisGames:
                m_choice.looked.push_back(Joined(root, "*.yml"));
                for (const std::string& file : Directory(root)) {
                    LutrisGame(file);
                }
                return;
        }
    }

    // One directory that may be a prefix holding the client.
    void Candidate(const std::string& path, PrefixSource source) {
        if (m_capped) {
            return;
        }
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            Unreachable(path, errno);
            return;
        }
        if (!S_ISDIR(st.st_mode) || !m_seen.insert({st.st_dev, st.st_ino}).second) {
            return;  // a file, or a place already looked at through another name
        }
        if (++m_candidates > kMaxPrefixCandidates) {
            m_capped = true;
            Skip(path, "more than " + std::to_string(kMaxPrefixCandidates) +
                           " candidate directories: this one and the rest passed over");
            return;
        }
        std::optional<Holder> holder = Examine(path, source);
        if (holder) {
            m_holders.push_back(std::move(*holder));
        }
    }

    // A prefix given by the user: used whatever it holds; only what it holds is learned.
    PrefixChoice Explicit(const std::string& path, PrefixSource source) {
        m_choice.path = path;
        m_choice.foundBy = source;
        m_choice.looked = {path};
        if (std::optional<Holder> holder = Examine(path, source)) {
            m_choice.installLocation = holder->installLocation;
        }
        return std::move(m_choice);
    }

    PrefixChoice Choose() {
        std::stable_sort(m_holders.begin(), m_holders.end(), [](const Holder& a, const Holder& b) {
            return NewerThan(a.userHiveChanged, b.userHiveChanged);
        });
        if (m_holders.empty()) {
            m_choice.path = Joined(m_env.home, ".wine");
            m_choice.foundBy = PrefixSource::None;
            return std::move(m_choice);
        }
        m_choice.path = m_holders.front().path;
        m_choice.foundBy = m_holders.front().source;
        m_choice.installLocation = m_holders.front().installLocation;
        for (std::size_t i = 1; i < m_holders.size(); ++i) {
            m_choice.others.push_back(m_holders[i].path);
        }
        return std::move(m_choice);
    }

private:
    std::string Root(const PrefixPlace& place) const {
        switch (place.base) {
            case Base::Data:
                return Joined(m_env.xdgDataHome.empty() ? Joined(m_env.home, ".local/share")
                                                        : m_env.xdgDataHome,
                              place.path);
            case Base::Config:
                return Joined(m_env.xdgConfigHome.empty() ? Joined(m_env.home, ".config")
                                                          : m_env.xdgConfigHome,
                              place.path);
            case Base::Home:
                break;
        }
        return Joined(m_env.home, place.path);
    }

    void Skip(std::string path, std::string reason) {
        m_choice.skipped.push_back({std::move(path), std::move(reason)});
    }

    // A missing place is no news; anything else that keeps it from being read is.
    void Unreachable(const std::string& path, int error) {
        if (error == ENOENT || error == ENOTDIR) {
            return;
        }
        Skip(path, error == ELOOP ? std::string("symlink loop") : platform::ErrnoText(error));
    }

    // The entries of dir as paths, in name order so that the outcome does not depend on the
    // file system's order.
    std::vector<std::string> Directory(const std::string& dir) {
        std::vector<std::string> names;
        DIR* handle = ::opendir(dir.c_str());
        if (handle == nullptr) {
            Unreachable(dir, errno);
            return names;
        }
        while (const dirent* entry = ::readdir(handle)) {
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..") {
                continue;
            }
            if (names.size() == kMaxEntriesPerPlace) {
                Skip(dir, "more than " + std::to_string(kMaxEntriesPerPlace) +
                              " entries: the rest passed over");
                break;
            }
            names.emplace_back(name);
        }
        ::closedir(handle);
        std::sort(names.begin(), names.end());
        for (std::string& name : names) {
            name = Joined(dir, name);
        }
        return names;
    }

    void LutrisGame(const std::string& file) {
        if (!file.ends_with(".yml") && !file.ends_with(".yaml")) {
            return;
        }
        struct stat st {};
        if (!IsRegularFile(file, st)) {
            return;
        }
        if (static_cast<std::size_t>(st.st_size) > kMaxLutrisYamlBytes) {
            Skip(file, "larger than " + std::to_string(kMaxLutrisYamlBytes >> 10) + " KiB");
            return;
        }
        const std::optional<std::string> text =
            platform::ReadBoundedFile(file, kMaxLutrisYamlBytes);
        if (!text) {
            Skip(file, "cannot be read");
            return;
        }
        std::string prefix;
        try {
            const YAML::Node root = YAML::Load(*text);
            // Lutris writes the prefix under game:, older files at the top.
            YAML::Node node;
            if (root.IsMap() && root["game"].IsMap() && root["game"]["prefix"].IsScalar()) {
                node = root["game"]["prefix"];
            } else if (root.IsMap() && root["prefix"].IsScalar()) {
                node = root["prefix"];
            }
            if (node) {
                prefix = node.as<std::string>();
            }
        } catch (const YAML::Exception& error) {
            Skip(file, std::string("malformed YAML: ") + error.what());
            return;
        }
        if (prefix.starts_with("~/")) {
            prefix = Joined(m_env.home, prefix.substr(2));
        }
        if (prefix.empty() || prefix.front() != '/') {
            return;  // not a Wine game, or a prefix Lutris itself would not find
        }
        Candidate(prefix, PrefixSource::Lutris);
    }

    // What a directory holds: nothing when it is no prefix or the client is not in it.
    std::optional<Holder> Examine(const std::string& path, PrefixSource source) {
        struct stat machine {};
        struct stat user {};
        const std::string machineHive = Joined(path, "system.reg");
        if (!IsRegularFile(machineHive, machine) ||
            !IsRegularFile(Joined(path, "user.reg"), user)) {
            if (source == PrefixSource::Option || source == PrefixSource::WinePrefixVariable) {
                Skip(path, "not a Wine prefix (no system.reg and user.reg)");
            }
            return std::nullopt;
        }
        const platform::UninstallScanResult scan =
            platform::ScanUninstallEntry(machineHive, kProductUninstallEntry);
        if (scan.status == platform::ScanStatus::Unreadable ||
            scan.status == platform::ScanStatus::NotAHive) {
            Skip(machineHive, scan.reason);
            return std::nullopt;
        }
        if (scan.status != platform::ScanStatus::Found) {
            return std::nullopt;
        }
        const std::string unixPath = platform::MapWindowsPathIn(path, scan.installLocation);
        struct stat location {};
        if (unixPath.empty() || ::stat(unixPath.c_str(), &location) != 0 ||
            !S_ISDIR(location.st_mode)) {
            Skip(path,
                 "its uninstall entry names " + scan.installLocation + ", which does not exist");
            return std::nullopt;
        }
        return Holder{path, source, scan.installLocation, user.st_mtim};
    }

    const PrefixEnvironment& m_env;
    PrefixChoice m_choice;
    std::vector<Holder> m_holders;
    std::set<std::pair<dev_t, ino_t>> m_seen;
    std::size_t m_candidates = 0;
    bool m_capped = false;
};

std::string AbsoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    // XDG base directories must be absolute: a relative value is ignored, as those programs do.
    return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

}  // namespace

std::string_view PrefixSourceName(PrefixSource source) {
    switch (source) {
        case PrefixSource::WinePrefixVariable:
            return "WINEPREFIX";
        case PrefixSource::Option:
            return "option";
        case PrefixSource::Bottles:
            return "bottles";
        case PrefixSource::BottlesFlatpak:
            return "bottles-flatpak";
        case PrefixSource::Lutris:
            return "lutris";
        case PrefixSource::PlayOnLinux:
            return "playonlinux";
        case PrefixSource::CrossOver:
            return "crossover";
        case PrefixSource::Winetricks:
            return "winetricks";
        case PrefixSource::Steam:
            return "steam";
        case PrefixSource::Default:
            return "default";
        case PrefixSource::None:
            break;
    }
    return "none";
}

PrefixEnvironment PrefixEnvironment::FromProcess() {
    PrefixEnvironment environment;
    const char* home = std::getenv("HOME");
    environment.home = home != nullptr ? home : "";
    const char* winePrefix = std::getenv("WINEPREFIX");
    environment.winePrefix = winePrefix != nullptr ? winePrefix : "";
    environment.xdgDataHome = AbsoluteVariable("XDG_DATA_HOME");
    environment.xdgConfigHome = AbsoluteVariable("XDG_CONFIG_HOME");
    return environment;
}

PrefixChoice DiscoverPrefix(const PrefixEnvironment& environment, std::string_view explicitPrefix) {
    Search search(environment);
    if (!explicitPrefix.empty()) {
        return search.Explicit(std::string(explicitPrefix), PrefixSource::Option);
    }
    if (!environment.winePrefix.empty()) {
        return search.Explicit(environment.winePrefix, PrefixSource::WinePrefixVariable);
    }
    for (const PrefixPlace& place : kPlaces) {
        search.Place(place);
    }
    return search.Choose();
}

}  // namespace lumidex
