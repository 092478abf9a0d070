// Reads single values below one registry key, the way every reader of Windows settings in
// this program does it.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "platform/Registry.h"
#include "platform/RegistryValue.h"

namespace lumidex {

class RegistryReader {
public:
    using ValueMap = std::map<std::string, RegistryValue>;  // byte-wise order of names

    static constexpr std::string_view kDefaultBasePath = "Software\\AppConfig";
    static constexpr std::string_view kNoName = "<NO NAME>";
    static constexpr std::size_t kEnumBufferBytes = 1029;

    // basePath empty: kDefaultBasePath. The stored base path always ends with a backslash.
    explicit RegistryReader(platform::RootKey root, std::string_view basePath = {});

    // Reads valueName (empty: the key's default value) of base path + subKey (empty: the base
    // key itself) into out. True for text, number and binary values that fit in
    // RegistryValue::kRequestBytes; false, with out untouched, when the key or value is
    // missing, the value is of another type, or it is larger than that. A text value is
    // measured as stored plus its terminating zero, so the longest text that reads is 1029
    // bytes of UTF-8 (Chinese text takes three bytes a character, not the two of code page
    // 936: such texts hit the limit at fewer characters than on Windows).
    bool Read(std::string_view subKey, std::string_view valueName, RegistryValue& out) const;

    // Replaces Values() with every value of base path + subKey; the default value is named
    // kNoName. A value whose name or data does not fit kEnumBufferBytes is left out, as the
    // enumeration call refuses it. False, with the map empty, when the key cannot be opened.
    bool EnumValues(std::string_view subKey);

    platform::RootKey Root() const { return m_root; }
    const std::string& BasePath() const { return m_basePath; }
    // Filled by enumerating a key's values; empty until then.
    const ValueMap& Values() const { return m_values; }

protected:
    ValueMap m_values;

private:
    platform::RootKey m_root;
    std::string m_basePath;
};

}  // namespace lumidex
