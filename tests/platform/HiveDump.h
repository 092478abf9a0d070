// A canonical text form of a parsed registry tree, for comparing two parses and for readable
// test failures: one line per key ("[path]") and per value ("path|name|type|hex bytes").
#pragma once

#include <string>

#include "platform/RegistryHive.h"

namespace lumidex::testing {

inline std::string HexBytes(const std::vector<uint8_t>& data) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(data.size() * 2);
    for (uint8_t b : data) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0f];
    }
    return out;
}

inline void DumpKey(const platform::HiveKey& key, const std::string& path, std::string& out) {
    out += "[" + path + "]\n";
    for (const platform::HiveValue& value : key.Values()) {
        out += path + "|" + value.name + "|" + std::to_string(value.type) + "|" +
               HexBytes(value.data) + "\n";
    }
    for (const platform::HiveKey* child : key.Children()) {
        DumpKey(*child, path.empty() ? child->Name() : path + "\\" + child->Name(), out);
    }
}

inline std::string DumpHive(const platform::RegistryHive& hive) {
    std::string out;
    DumpKey(hive.Root(), "", out);
    return out;
}

}  // namespace lumidex::testing
