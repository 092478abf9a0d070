// A key's default (unnamed) value as text, the way the software checks read the media
// player's path and the file associations.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/Registry.h"

namespace lumidex {

inline constexpr int32_t kErrorFileNotFound = 2;  // ERROR_FILE_NOT_FOUND
// The query's buffer, terminating zero included.
inline constexpr std::size_t kDefaultValueBufferBytes = 260;

// 0 with out set to the value (the empty text when there is none, it is no text, or it does
// not fit the buffer); the error code, with out unchanged, when the key cannot be opened.
int32_t ReadDefaultValue(platform::RootKey root, std::string_view subKey, std::string& out);

}  // namespace lumidex
