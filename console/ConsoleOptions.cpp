#include "console/ConsoleOptions.h"

namespace lumidex {

ParsedOptions ParseConsoleOptions(const std::vector<std::string>& args) {
    ParsedOptions parsed;
    auto& options = parsed.options;
    for (const std::string& arg : args) {
        if (arg == "--json") {
            options.json = true;
        } else if (arg == "--endpoints") {
            options.action = ConsoleOptions::Action::Endpoints;
        } else if (arg == "--help" || arg == "-h") {
            options.action = ConsoleOptions::Action::Help;
        } else if (arg == "--version") {
            options.action = ConsoleOptions::Action::Version;
        } else {
            parsed.error = "unknown argument: " + arg;
            return parsed;
        }
    }
    return parsed;
}

std::string ConsoleUsage() {
    return "Usage: lumidex-console [--json] [--endpoints] [--help] [--version]\n"
           "\n"
           "Checks this computer, its network set-up and the Kelvora services, as the\n"
           "check button of the Lumidex window does, and prints every row and the summary.\n"
           "\n"
           "  --json       print one JSON object instead of text\n"
           "  --endpoints  print the built-in hosts and ports Lumidex talks to, then exit\n"
           "  --help       this text\n"
           "  --version    the version\n"
           "\n"
           "Ctrl+C stops the run (the summary is still written); a second Ctrl+C aborts.\n"
           "Exit status: 0 no error found, 1 errors found, 2 usage error.\n";
}

}  // namespace lumidex
