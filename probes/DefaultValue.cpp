#include "probes/DefaultValue.h"

#include <array>
#include <cstdint>

namespace lumidex {

int32_t ReadDefaultValue(platform::RootKey root, std::string_view subKey, std::string& out) {
    const auto key = platform::RegistryKey::Open(root, subKey);
    if (!key) {
        return kErrorFileNotFound;
    }
    std::array<uint8_t, kDefaultValueBufferBytes> buffer{};
    const platform::RegQueryResult result = key->QueryValue("", buffer);
    if (result.status != platform::RegStatus::Success ||
        (result.type != platform::kRegSz && result.type != platform::kRegExpandSz)) {
        out.clear();
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(buffer.data()), result.size);
    out = std::string(text.substr(0, text.find('\0')));
    return 0;
}

}  // namespace lumidex
