// The result buffer of a registry read: the value's bytes, and what kind of value it was.
#pragma once

#include <cstdint>

namespace lumidex {

struct RegistryValue {
    static constexpr int32_t kText = 0;    // REG_SZ or REG_EXPAND_SZ (not expanded), UTF-8
    static constexpr int32_t kNumber = 1;  // REG_DWORD, its 4 bytes first in data
    static constexpr int32_t kBinary = 2;  // REG_BINARY, length bytes in data

    // At most kRequestBytes come from the registry; text gets a zero byte right behind them,
    // and the rest is slack.
    static constexpr int32_t kDataBytes = 1032;
    static constexpr int32_t kRequestBytes = 1030;

    char data[kDataBytes] = {};
    int32_t length = 0;  // set by reads of binary values only
    int32_t kind = kText;
};

}  // namespace lumidex
