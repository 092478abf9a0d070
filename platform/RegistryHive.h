// An in-memory registry tree read from text: Wine's hive files (system.reg, user.reg) and
// registry export files (REGEDIT4, version 5.00). Texts inside the tree are UTF-8; value data is
// kept the way the ANSI registry functions hand it out, except that text is UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/AsciiCase.h"

namespace lumidex::platform {

// ---- Limits on hive text -------------------------------------------------------------------
// Far above anything Wine or an export writes; they only bound what a damaged or hostile file
// can make us hold.
inline constexpr std::size_t kMaxHiveFileBytes = 64u << 20;      // whole file, as stored
inline constexpr std::size_t kMaxHiveLineBytes = 1u << 20;       // one physical line, decoded
inline constexpr std::size_t kMaxHiveValueBytes = 1u << 20;      // one value's data
inline constexpr std::size_t kMaxHiveValueTextBytes = 4u << 20;  // a hex value over all lines
inline constexpr std::size_t kMaxHiveKeyDepth = 512;             // key path components
inline constexpr std::size_t kMaxHiveKeyNameBytes = 1024;        // one key path component
inline constexpr std::size_t kMaxHiveValueNameBytes = 64u << 10;
inline constexpr std::size_t kMaxHiveIssuesKept = 64;  // skipped lines whose reason is kept

// Value types as the registry stores them.
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;

struct HiveValue {
    std::string name;  // as written, UTF-8; empty for the key's default value
    uint32_t type = kRegNone;
    // REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ: UTF-8 including the zero bytes the registry holds
    // (a quoted string gets its terminating zero). REG_DWORD: 4 bytes, little-endian.
    // Everything else: the bytes as stored.
    std::vector<uint8_t> data;
};

class HiveParser;

// One key of a tree. Read-only once built; only the parser changes it. Look-ups by name are
// hashed, so a key with very many values costs no more per value than a small one.
class HiveKey {
public:
    explicit HiveKey(std::string name = {}) : m_name(std::move(name)) {}

    const std::string& Name() const { return m_name; }
    // Values in the order the file gave them (a repeated name keeps its first place).
    const std::vector<HiveValue>& Values() const { return m_values; }
    const HiveValue* FindValue(std::string_view name) const;
    const HiveKey* FindChild(std::string_view name) const;
    // Backslash-separated path below this key; empty components are ignored, so "" and "\"
    // name this key itself.
    const HiveKey* FindPath(std::string_view path) const;
    // Children in case-folded name order.
    std::vector<const HiveKey*> Children() const;

private:
    friend class HiveParser;
    HiveKey& AddChild(std::string_view name);  // the existing child when there is one
    void SetValue(HiveValue value);            // replaces a value of the same name in its place
    void RemoveValue(std::string_view name);   // leaves its slot to Compact
    void RemoveChild(std::string_view name);
    void Compact();  // drops the slots of removed values, in this key and all below it

    std::string m_name;
    std::vector<HiveValue> m_values;
    // Folded name -> slot in m_values; a slot no entry points to holds a removed value.
    std::unordered_map<std::string, std::size_t> m_valueIndex;
    std::size_t m_removedValues = 0;
    std::map<std::string, std::unique_ptr<HiveKey>> m_children;  // by folded name
};

enum class HiveFormat {
    Unknown,
    Wine,      // "WINE REGISTRY Version 2"; keys relative to the hive's root
    Regedit4,  // "REGEDIT4"; ANSI (code page 936) text, keys start with a root name
    Regedit5,  // "Windows Registry Editor Version 5.00"; usually UTF-16LE
};

// The result of reading one file. For export files the root's children are the root key
// names in long form ("HKEY_LOCAL_MACHINE", ...).
class RegistryHive {
public:
    HiveFormat Format() const { return m_format; }
    const std::string& RelativeTo() const { return m_relativeTo; }  // Wine: "\Machine", ...
    const std::string& Arch() const { return m_arch; }              // Wine: "win32", "win64"
    const HiveKey& Root() const { return m_root; }

private:
    friend class HiveParser;
    HiveFormat m_format = HiveFormat::Unknown;
    std::string m_relativeTo;
    std::string m_arch;
    HiveKey m_root;
};

}  // namespace lumidex::platform
