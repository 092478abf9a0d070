// The verdict of one row; the values are the indexes of the status icons.
#pragma once

#include <optional>
#include <string_view>

namespace lumidex {

enum class CheckStatus : int {
    Error = 0,
    NotChecked = 1,
    Ok = 2,
    Warning = 3,
};

// "Error", "NotChecked", "Ok", "Warning".
std::string_view CheckStatusName(CheckStatus status);
std::optional<CheckStatus> CheckStatusFromInt(int value);

}  // namespace lumidex
