// The Windows registry as this port sees it: the hives of the user's Wine prefix,
// <prefix>/system.reg for HKEY_LOCAL_MACHINE and <prefix>/user.reg for HKEY_CURRENT_USER, read
// on demand and re-read when a file changes. Read-only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RegistryHive.h"

namespace lumidex::platform {

enum class RootKey {
    ClassesRoot,  // HKEY_CURRENT_USER\Software\Classes laid over HKEY_LOCAL_MACHINE's
    CurrentUser,
    LocalMachine,
};

// Result codes with the values of their Win32 counterparts.
enum class RegStatus : int32_t {
    Success = 0,       // ERROR_SUCCESS
    FileNotFound = 2,  // ERROR_FILE_NOT_FOUND: no such value
    MoreData = 234,    // ERROR_MORE_DATA: the data is larger than the caller's buffer
};

struct RegQueryResult {
    RegStatus status = RegStatus::FileNotFound;
    uint32_t type = kRegNone;
    std::size_t size = 0;  // bytes copied; with MoreData the bytes that would be needed
};

// An open key: a snapshot of the hive(s) it was opened from, unaffected by later reloads.
// Cheap to move; closing is letting it go.
//
// A win64 prefix keeps a 32-bit program's machine-wide settings (installers' uninstall
// entries among them) under Software\Wow6432Node. The program this port replaces was a 32-bit
// one, so under HKEY_LOCAL_MACHINE\Software the 32-bit view comes first and the native view
// fills in what it lacks. The Classes tree is shared between the views, as on Windows.
class RegistryKey {
public:
    // Empty when there is no prefix, no hive file, an unreadable hive, or no such key.
    // path: backslash-separated, empty components ignored ("" opens the root itself).
    static std::optional<RegistryKey> Open(RootKey root, std::string_view path);

    // Copies the value's data into buffer when it fits. name "" is the default value; letter
    // case does not matter. On MoreData nothing is copied.
    RegQueryResult QueryValue(std::string_view name, std::span<uint8_t> buffer) const;

    // The key's values: the upper layer's in file order, then those only a lower layer has.
    std::size_t ValueCount() const { return m_values.size(); }
    const HiveValue* ValueAt(std::size_t index) const {
        return index < m_values.size() ? m_values[index] : nullptr;
    }

private:
    RegistryKey() = default;
    void AddLayer(std::shared_ptr<const RegistryHive> hive, const HiveKey& key);

    std::vector<std::shared_ptr<const RegistryHive>> m_hives;  // keep the layers alive
    std::vector<const HiveKey*> m_layers;                      // upper first
    std::vector<const HiveValue*> m_values;
};

}  // namespace lumidex::platform
