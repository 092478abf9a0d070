#include "console/ConsoleOptions.h"

namespace lumidex {

namespace {

// The contact field an option fills, or null for an option that is not one.
std::string* ContactField(ConsoleOptions& options, const std::string& name) {
    auto& contact = options.contact;
    const std::pair<const char*, std::string*> fields[] = {
        {"--qq", &contact.qq},       {"--msn", &contact.msn},   {"--club-id", &contact.clubId},
        {"--email", &contact.email}, {"--note", &contact.note},
    };
    for (const auto& [option, field] : fields) {
        if (name == option) {
            return field;
        }
    }
    return nullptr;
}

}  // namespace

ParsedOptions ParseConsoleOptions(const std::vector<std::string>& args) {
    ParsedOptions parsed;
    auto& options = parsed.options;
    bool contactGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // "--qq VALUE" or "--qq=VALUE"
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (std::string* field = ContactField(options, name)) {
            if (equals != std::string::npos) {
                *field = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                *field = args[++i];
            } else {
                parsed.error = name + " needs a value";
                return parsed;
            }
            contactGiven = true;
        } else if (arg == "--submit") {
            options.submit = true;
        } else if (arg == "--json") {
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
    if (contactGiven && !options.submit) {
        parsed.error = "contact details go with --submit";
    }
    return parsed;
}

std::string ConsoleUsage() {
    return "Usage: lumidex-console [--json] [--submit [--qq N] [--msn A] [--club-id ID]\n"
           "                       [--email A] [--note TEXT]] [--endpoints] [--help] [--version]\n"
           "\n"
           "Checks this computer, its network set-up and the Kelvora services, as the\n"
           "check button of the Lumidex window does, and prints every row and the summary.\n"
           "\n"
           "  --json       print one JSON object instead of text\n"
           "  --submit     after a run that found reportable errors, send the report with\n"
           "               the contact details given (all optional), as the window's\n"
           "               submit button does, and print the outcome\n"
           "  --endpoints  print the built-in hosts and ports Lumidex talks to, then exit\n"
           "  --help       this text\n"
           "  --version    the version\n"
           "\n"
           "Ctrl+C stops the run (the summary is still written); a second Ctrl+C aborts.\n"
           "Exit status: 0 no error found, 1 errors found, 2 usage error,\n"
           "3 the report could not be sent.\n";
}

}  // namespace lumidex
