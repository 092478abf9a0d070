// Decimal numbers read the forgiving way the C library's atoi reads them (leading blanks, a
// sign, digits up to the first other character, 0 when there are none), except that a value
// out of range is clamped instead of being undefined.
#pragma once

#include <string_view>

namespace lumidex {

int LenientAtoi(std::string_view text);

}  // namespace lumidex
