#include "app/RegistryReader.h"

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

}  // namespace lumidex
