// Judging whether the network answers for the sites it was asked about: a captive portal or
// an intercepting proxy in front of the web, and a resolver that answers names that cannot
// exist. Pure functions of what the probes received, so every rule is tested by a table.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/InterceptionFindings.h"

namespace lumidex {

// What one public site answered to "GET / HTTP/1.1".
struct SiteAnswer {
    std::string site;      // the host name asked for (the Host field sent)
    int status = 0;        // 0: no answer (no connection, nothing readable, out of time)
    std::string location;  // the Location field of the answer, as received
    std::string body;      // the first bytes of the body
};

// The signature of an interception, in the order it is looked for:
// 1. Two or more sites redirect (301, 302, 303, 307, 308) to absolute URLs on one and the same
//    host, and that host is none of the sites asked, nor a name of the same registrable
//    domain as one of them (a site that sends "www.example.com" to "example.com" or to
//    "login.example.com" is only itself). The portal is that host; the URL is the first
//    redirect's.
// 2. Two or more sites answer 200 with the same non-empty body: no two real sites serve the
//    same page, a portal serves its login page to every one. The portal is the host of the
//    first absolute http(s) URL in that page (its form or its link to the login), else the
//    first of those sites.
// Sites that did not answer, a site redirecting to itself or answering with a page of its own
// are no evidence; one site alone never is. A URL in a page ends at the first byte no URL
// holds (the page's text around it may be in any encoding); the finding's host and URL are
// well-formed UTF-8, with U+FFFD for each byte of a Location field that is not.
std::optional<PortalFinding> JudgeInterception(const std::vector<SiteAnswer>& answers);

// The registrable part of a host name, lower case: the last two labels, or three when the
// second-level label is a generic one under a country code ("sina.com.cn", "bbc.co.uk").
// A dotted address is its own.
std::string RegistrableName(std::string_view host);

// The finding from the addresses a name that cannot exist was given and, per product name in
// the order asked, the addresses that name resolves to: the names that share one of them.
ResolverFinding JudgeResolverAnswers(
    const std::vector<std::string>& nonexistentNameAddresses,
    const std::vector<std::pair<std::string, std::vector<std::string>>>& productAddresses);

// The value of the first header field called name (compared without regard to case), trimmed
// of white space; empty when there is none. header: status line and fields as received.
std::string HeaderFieldValue(std::string_view header, std::string_view name);

}  // namespace lumidex
