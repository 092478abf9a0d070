// The number that names a window to other programs. On Linux it names the window's
// copied-data endpoint (platform/CopyData.h); programs pass it on their command line.
#pragma once

#include <cstdint>

namespace lumidex::platform {

using WindowHandle = int32_t;
inline constexpr WindowHandle kNoWindow = 0;

}  // namespace lumidex::platform
