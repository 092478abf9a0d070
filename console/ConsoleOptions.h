// The command line of lumidex-console.
#pragma once

#include <string>
#include <vector>

namespace lumidex {

struct ConsoleOptions {
    enum class Action { Check, Endpoints, Help, Version };
    Action action = Action::Check;
    bool json = false;
};

struct ParsedOptions {
    ConsoleOptions options;
    std::string error;  // non-empty: a usage error, to print with the usage text
};

ParsedOptions ParseConsoleOptions(const std::vector<std::string>& args);
std::string ConsoleUsage();

}  // namespace lumidex
