// The fixed list of checks: which rows exist, in which order, and by which id the checks
// find them.
#pragma once

#include <string>
#include <vector>

namespace lumidex {

struct CheckItem {
    int id;            // 1..18 a check, 0 a separator
    std::string name;  // the row's caption (UTF-8)
};

inline constexpr int kSeparatorId = 0;
inline constexpr int kXpSp2PatchItemId = 12;
inline constexpr char kSeparatorCaption[] = "----------";

// The 20 entries in row order; built once, never changed.
const std::vector<CheckItem>& CheckItemTable();

}  // namespace lumidex
