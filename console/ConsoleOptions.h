// The command line of lumidex-console.
#pragma once

#include <string>
#include <vector>

#include "report/ReportBody.h"

namespace lumidex {

struct ConsoleOptions {
    enum class Action { Check, Endpoints, TestPortMapping, Help, Version };
    Action action = Action::Check;
    bool json = false;
    // Probe one host after the other, as the window does with LUMIDEX_ONE_AT_A_TIME=1.
    bool oneAtATime = false;
    // After the run, send the report when the window's submit button would be enabled.
    bool submit = false;
    // With submit: print the request the report would be, decoded, instead of sending it.
    bool dryRun = false;
    ContactDetails contact;  // --qq, --msn, --club-id, --email, --note
    // --prefix DIR: the Wine prefix to read the Windows side from instead of searching.
    std::string prefix;
};

struct ParsedOptions {
    ConsoleOptions options;
    std::string error;  // non-empty: a usage error, to print with the usage text
};

ParsedOptions ParseConsoleOptions(const std::vector<std::string>& args);
// The usage text, naming the program as `program`.
std::string ConsoleUsage(const std::string& program);

}  // namespace lumidex
