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
        } else if (name == "--prefix") {
            if (equals != std::string::npos) {
                options.prefix = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                options.prefix = args[++i];
            } else {
                parsed.error = "--prefix needs a directory";
                return parsed;
            }
            if (options.prefix.empty()) {
                parsed.error = "--prefix needs a directory";
                return parsed;
            }
        } else if (arg == "--submit") {
            options.submit = true;
        } else if (arg == "--dry-run") {
            options.dryRun = true;
        } else if (arg == "--one-at-a-time") {
            options.oneAtATime = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--endpoints") {
            options.action = ConsoleOptions::Action::Endpoints;
        } else if (arg == "--test-port-mapping") {
            options.action = ConsoleOptions::Action::TestPortMapping;
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
    } else if (options.dryRun && !options.submit) {
        parsed.error = "--dry-run goes with --submit (it shows the report instead of sending it)";
    }
    return parsed;
}

std::string ConsoleUsage(const std::string& program) {
    return "Usage: " + program + " [OPTION]...\n" +
           "\n"
           "Checks this computer, its network set-up and the Kelvora services, as the\n"
           "check button of the Lumidex window does, and prints every row and the summary.\n"
           "\n"
           "  --json         print one JSON object instead of text\n"
           "  --submit       after a run that found reportable errors, send the report as\n"
           "                 the window's submit button does, and print the outcome\n"
           "  --qq N         with --submit: the QQ number to be contacted at\n"
           "  --msn ADDR     with --submit: the MSN address\n"
           "  --club-id ID   with --submit: the Kelvora club ID\n"
           "  --email ADDR   with --submit: the e-mail address\n"
           "  --note TEXT    with --submit: a note for the report\n"
           "  --dry-run      with --submit: print the request the report would be (its\n"
           "                 header, and its body decoded into readable text, then the\n"
           "                 body's length in bytes) and send nothing\n"
           "  --one-at-a-time\n"
           "                 probe one host after the other instead of side by side (as\n"
           "                 LUMIDEX_ONE_AT_A_TIME=1 does); the rows are the same, only slower\n"
           "  --prefix DIR   read the Windows side (the client's registry, its player and\n"
           "                 associations, the log) from the Wine prefix DIR instead of\n"
           "                 searching for the prefix that holds the client (as\n"
           "                 LUMIDEX_PREFIX=DIR does)\n"
           "  --endpoints    print the hosts and ports Lumidex talks to, then exit\n"
           "  --test-port-mapping\n"
           "                 ask the router, through UPnP, to map one random UDP port to\n"
           "                 this computer for 60 s, read the mapping back, delete it, and\n"
           "                 print whether the router allowed it (exit 0) or not (exit 1);\n"
           "                 the only action that changes anything on the router\n"
           "  --help         this text\n"
           "  --version      the version\n"
           "\n"
           "Without --prefix or WINEPREFIX, the prefix holding the client is searched for in\n"
           "~/.wine and where Bottles, Lutris, PlayOnLinux, CrossOver, winetricks and Steam\n"
           "keep theirs; the output names the prefix used and how it was found.\n"
           "\n"
           "Each check also asks whether peers can reach this computer: the STUN servers\n"
           "listed by --endpoints report the address and port the Internet sees and how the\n"
           "NAT maps and filters them, and the router is asked, read-only, whether it offers\n"
           "port mapping through UPnP, NAT-PMP or PCP (and, with UPnP, whether the client's\n"
           "UDP ports are mapped); one echo sent two hops out shows a carrier-grade NAT past\n"
           "the router. The verdict is open, moderate, strict, blocked or unknown.\n"
           "\n"
           "Contact details are optional; --qq=N and the like work too. Ctrl+C stops the\n"
           "run (the summary is still written); a second Ctrl+C aborts.\n"
           "Exit status: 0 no error found, 1 errors found, 2 usage error,\n"
           "3 the report could not be sent.\n";
}

}  // namespace lumidex
