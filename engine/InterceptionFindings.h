// What the probes learn about a network that lies: a captive portal or intercepting proxy in
// front of the web, and a resolver that answers names that cannot exist. Neither changes a
// row's verdict; both add problems beside the rows they explain.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lumidex {

struct PortalFinding {
    std::string host;  // where the answers lead: the redirect's host or the login page's
    std::string url;   // the redirect URL (or the login page's first link); may be empty
};

struct ResolverFinding {
    // Addresses the system resolver gave for a name that cannot exist; empty when it said
    // that the name does not exist, or did not answer within its bound.
    std::vector<std::string> nonexistentNameAddresses;
    // Product names that resolve to one of those addresses, in the order they were asked.
    std::vector<std::string> hijackedNames;
};

class CheckEngine;

// The one line the notes get after the summary when a portal was found; empty otherwise.
std::string PortalNotesLine(const std::optional<PortalFinding>& portal);

// At the DNS row's place in the walk: dns_answers_nonexistent_names on that row, and
// product_names_hijacked on the domain-mapping row (13), the row about where product names go.
void NoteResolverFinding(CheckEngine& engine, const ResolverFinding& finding);
// At the Internet row's place: captive_portal on that row, remembered for the rest of the run.
void NotePortalFinding(CheckEngine& engine, const std::optional<PortalFinding>& portal);
// After the channel list failed: channel_list_intercepted on the list row (16) when this run
// found a portal, which is then what answered in the list's place.
void NoteChannelListFailure(CheckEngine& engine);

}  // namespace lumidex
