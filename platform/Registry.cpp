#include "platform/Registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/HiveParser.h"
#include "platform/UniqueFd.h"
#include "platform/WinePaths.h"

namespace lumidex::platform {
namespace {

constexpr std::string_view kMachineHive = "system.reg";
constexpr std::string_view kUserHive = "user.reg";
constexpr std::string_view kClassesPath = "Software\\Classes";
constexpr std::string_view kSoftware = "Software";
constexpr std::string_view kWow64Node = "Wow6432Node";
constexpr std::string_view kWin64Arch = "win64";
constexpr std::size_t kReadChunkBytes = 64u << 10;

// File times tick coarsely (often a few milliseconds), so two writes close together can leave
// identical stamps. A stamp younger than this when the file was read proves nothing and the
// file is read again next time; Wine rewrites its hives seldom, so this rarely costs a read.
constexpr int64_t kRacyStampSeconds = 2;

// What identifies one version of a file: a rewrite changes the change time even when size and
// modification time come out equal.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    bool operator==(const FileStamp& o) const {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

FileStamp StampOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

// True when the file's last change is old enough that a later change must show in its stamp.
bool IsSettled(const FileStamp& stamp) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const timespec& last =
        stamp.changed.tv_sec > stamp.modified.tv_sec ? stamp.changed : stamp.modified;
    return static_cast<int64_t>(now.tv_sec) - static_cast<int64_t>(last.tv_sec) > kRacyStampSeconds;
}

// Parsed hives by file path. A hive that failed to parse is remembered as null until its file
// changes, so a broken file is not re-read on every lookup.
class HiveCache {
public:
    std::shared_ptr<const RegistryHive> Get(const std::string& path) {
        std::lock_guard lock(m_mutex);
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat st {};
        if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
            m_entries.erase(path);
            return nullptr;
        }
        const FileStamp stamp = StampOf(st);
        const auto it = m_entries.find(path);
        if (it != m_entries.end() && it->second.settled && it->second.stamp == stamp) {
            return it->second.hive;
        }
        Entry& entry = m_entries[path];
        entry.stamp = stamp;
        entry.settled = IsSettled(stamp);
        entry.hive = Load(fd.get(), st.st_size);
        return entry.hive;
    }

private:
    static std::shared_ptr<const RegistryHive> Load(int fd, off_t size) {
        if (size < 0 || static_cast<uint64_t>(size) > kMaxHiveFileBytes) {
            return nullptr;
        }
        HiveParser parser;
        std::array<char, kReadChunkBytes> chunk;
        while (parser.Status() == HiveParseStatus::NeedMore) {
            const ssize_t got = ::read(fd, chunk.data(), chunk.size());
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                return nullptr;
            }
            if (got == 0) {
                break;
            }
            parser.Feed(std::string_view(chunk.data(), static_cast<std::size_t>(got)));
        }
        if (parser.Finish() != HiveParseStatus::Complete) {
            return nullptr;
        }
        return parser.TakeHive();
    }

    struct Entry {
        FileStamp stamp;
        bool settled = false;  // the stamp can be trusted to change with the file
        std::shared_ptr<const RegistryHive> hive;
    };
    std::mutex m_mutex;
    std::map<std::string, Entry> m_entries;
};

HiveCache& Cache() {
    static HiveCache cache;
    return cache;
}

std::shared_ptr<const RegistryHive> LoadHive(std::string_view fileName) {
    const std::string prefix = WinePrefix();
    if (prefix.empty()) {
        return nullptr;
    }
    return Cache().Get(prefix + "/" + std::string(fileName));
}

// "Software\X\Y" -> "Software\Wow6432Node\X\Y"; nullopt for paths outside Software or already
// inside the 32-bit view.
std::optional<std::string> Wow64Path(std::string_view path) {
    while (!path.empty() && path.front() == '\\') {
        path.remove_prefix(1);
    }
    const std::size_t cut = path.find('\\');
    if (!NamesEqual(path.substr(0, cut), kSoftware)) {
        return std::nullopt;
    }
    std::string_view rest =
        cut == std::string_view::npos ? std::string_view{} : path.substr(cut + 1);
    const std::size_t next = rest.find('\\');
    const std::string_view first = rest.substr(0, next);
    if (NamesEqual(first, kWow64Node) || NamesEqual(first, "Classes")) {
        return std::nullopt;
    }
    return std::string(kSoftware) + "\\" + std::string(kWow64Node) + "\\" + std::string(rest);
}

}  // namespace

void RegistryKey::AddLayer(std::shared_ptr<const RegistryHive> hive, const HiveKey& key) {
    for (const HiveValue& value : key.Values()) {
        const bool shadowed = std::any_of(
            m_layers.begin(), m_layers.end(),
            [&](const HiveKey* upper) { return upper->FindValue(value.name) != nullptr; });
        if (!shadowed) {
            m_values.push_back(&value);
        }
    }
    m_layers.push_back(&key);
    m_hives.push_back(std::move(hive));
}

std::optional<RegistryKey> RegistryKey::Open(RootKey root, std::string_view path) {
    RegistryKey key;
    bool found = false;
    const auto layer = [&](const std::shared_ptr<const RegistryHive>& hive, std::string_view base,
                           std::string_view below) {
        if (!hive) {
            return;
        }
        const HiveKey* baseKey = hive->Root().FindPath(base);
        const HiveKey* target = baseKey != nullptr ? baseKey->FindPath(below) : nullptr;
        if (target != nullptr) {
            key.AddLayer(hive, *target);
            found = true;
        }
    };

    switch (root) {
        case RootKey::CurrentUser:
            layer(LoadHive(kUserHive), {}, path);
            break;
        case RootKey::LocalMachine: {
            const auto hive = LoadHive(kMachineHive);
            if (hive && hive->Arch() == kWin64Arch) {
                if (const auto wow = Wow64Path(path)) {
                    layer(hive, {}, *wow);
                }
            }
            layer(hive, {}, path);
            break;
        }
        case RootKey::ClassesRoot:
            layer(LoadHive(kUserHive), kClassesPath, path);
            layer(LoadHive(kMachineHive), kClassesPath, path);
            break;
    }
    if (!found) {
        return std::nullopt;
    }
    return key;
}

RegQueryResult RegistryKey::QueryValue(std::string_view name, std::span<uint8_t> buffer) const {
    RegQueryResult result;
    const HiveValue* value = nullptr;
    for (const HiveKey* layer : m_layers) {
        if ((value = layer->FindValue(name)) != nullptr) {
            break;
        }
    }
    if (value == nullptr) {
        return result;
    }
    result.type = value->type;
    result.size = value->data.size();
    if (value->data.size() > buffer.size()) {
        result.status = RegStatus::MoreData;
        return result;
    }
    std::copy(value->data.begin(), value->data.end(), buffer.begin());
    result.status = RegStatus::Success;
    return result;
}

}  // namespace lumidex::platform
