// Does the system resolver answer names that cannot exist? Some providers' resolvers, and
// portals, answer "no such name" with an address of their own (an advertising page, the login
// page), which sends a mistyped or withdrawn name, and a product name that is looked up while
// the portal is in front, to the wrong place.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/InterceptionFindings.h"

namespace lumidex {

// Name to its addresses, dotted; empty when it does not resolve. Empty function: the system
// resolver (getaddrinfo, IPv4).
using AddressLookup = std::function<std::vector<std::string>(const std::string& name)>;

// All look-ups of one check together: a resolver that answers at all answers a name in well
// under a second; one that does not is the DNS row's business, not this check's.
inline constexpr int kResolverCheckMs = 2000;

// "lumidex-" and 16 random hexadecimal digits under ".invalid", a name no resolver may give an
// address for (RFC 6761 6.4). Absolute (it ends in a dot): a relative name is also tried under
// each search domain of resolv.conf, where a company zone's wildcard answers it, and that
// resolver is honest.
std::string NonexistentName();

// Looks up name and, when it is given an address, each of productNames, one after the other
// on a thread of their own; waits at most boundMs for them. A look-up cannot be abandoned: one
// still under way then is left to finish on its thread, and the names it did not reach are
// not judged.
ResolverFinding CheckResolverAnswers(const std::string& name,
                                     const std::vector<std::string>& productNames,
                                     int boundMs = kResolverCheckMs, AddressLookup lookup = {});

// The host names of the product the service rows look up: the channel-list host and the web,
// information and list hosts.
std::vector<std::string> ProductHostNames();

}  // namespace lumidex
