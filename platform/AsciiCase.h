// ASCII case folding: how Windows compares registry key and value names, and how Wine matches
// file names on a case-sensitive disk. Bytes outside A-Z (UTF-8 included) compare as they are.
#pragma once

#include <string>
#include <string_view>

namespace lumidex::platform {

std::string FoldName(std::string_view name);
bool NamesEqual(std::string_view a, std::string_view b);

}  // namespace lumidex::platform
