#include "platform/RegistryReader.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace lumidex {

RegistryReader::RegistryReader(platform::RootKey root, std::string_view basePath)
    : m_root(root), m_basePath(basePath.empty() ? kDefaultBasePath : basePath) {
    if (m_basePath.back() != '\\') {
        m_basePath += '\\';
    }
}

bool RegistryReader::Read(std::string_view subKey, std::string_view valueName,
                          RegistryValue& out) const {
    const auto key = platform::RegistryKey::Open(m_root, m_basePath + std::string(subKey));
    if (!key) {
        return false;
    }
    // Read into a buffer of our own, so that out stays as it was whenever the answer is false.
    std::array<uint8_t, RegistryValue::kRequestBytes> buffer{};
    const platform::RegQueryResult result = key->QueryValue(valueName, buffer);
    if (result.status != platform::RegStatus::Success) {
        return false;
    }
    const auto copyOut = [&] {
        std::copy_n(buffer.begin(), result.size, reinterpret_cast<uint8_t*>(out.data));
    };
    switch (result.type) {
        case platform::kRegSz:
        case platform::kRegExpandSz:
            copyOut();
            out.data[result.size] = '\0';
            out.kind = RegistryValue::kText;
            return true;
        case platform::kRegDword:
            copyOut();
            out.kind = RegistryValue::kNumber;
            return true;
        case platform::kRegBinary:
            copyOut();
            out.length = static_cast<int32_t>(result.size);
            out.kind = RegistryValue::kBinary;
            return true;
        default:
            return false;
    }
}

bool RegistryReader::EnumValues(std::string_view subKey) {
    m_values.clear();
    const auto key = platform::RegistryKey::Open(m_root, m_basePath + std::string(subKey));
    if (!key) {
        return false;
    }
    for (std::size_t i = 0; i < key->ValueCount(); ++i) {
        const platform::HiveValue* value = key->ValueAt(i);
        // The name needs room for its terminating zero as well.
        if (value == nullptr || value->name.size() >= kEnumBufferBytes ||
            value->data.size() > kEnumBufferBytes) {
            continue;
        }
        RegistryValue entry;
        std::copy(value->data.begin(), value->data.end(), reinterpret_cast<uint8_t*>(entry.data));
        switch (value->type) {
            case platform::kRegSz:
            case platform::kRegExpandSz:
                entry.data[value->data.size()] = '\0';
                entry.kind = RegistryValue::kText;
                break;
            case platform::kRegDword:
                entry.kind = RegistryValue::kNumber;
                break;
            default:
                entry.length = static_cast<int32_t>(value->data.size());
                entry.kind = RegistryValue::kBinary;
                break;
        }
        m_values[value->name.empty() ? std::string(kNoName) : value->name] = entry;
    }
    return true;
}

}  // namespace lumidex
