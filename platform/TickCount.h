// Milliseconds since an arbitrary start, from the monotonic clock; wraps like a 32-bit
// Windows tick count, so compare with differences, never with <.
#pragma once

#include <cstdint>

namespace lumidex::platform {

std::uint32_t GetTickCount();

}  // namespace lumidex::platform
