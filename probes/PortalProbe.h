// Is there a captive portal or an intercepting proxy in front of the web? Fetches the home
// page of a few public sites at once with the program's own GET client, reads the start of
// each answer and lets JudgeInterception decide.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "engine/InterceptionFindings.h"
#include "net/HttpGetClient.h"
#include "probes/InterceptionJudge.h"

namespace lumidex {

struct PortalProbeTiming {
    // All fetches together, from the first connect to the last byte read: as long as the
    // Internet row's own wait, so that the probe, started beside it, adds no time to a run.
    int totalMs = 3000;
    // Read of each answer, head and body together: a redirect's head or the top of a login
    // page fits with room to spare, and no site makes the probe download a page.
    std::size_t readBytes = 4096;
};

// How many of the public sites are asked: two agreeing sites make a portal, the third keeps a
// site that answers oddly on its own from deciding either way.
inline constexpr std::size_t kPortalProbeSites = 3;

// The first kPortalProbeSites of the public site list.
std::vector<std::string> PortalProbeSites();

// "GET / HTTP/1.1" to each site (a host name or dotted address, optionally with ":port") at
// once; the answers in the order of sites. A site still under way when totalMs have passed
// is abandoned (its socket closed; a name look-up, which cannot be ended, is left to finish
// on its thread) and counts as no answer. Records one http probe per site.
std::vector<SiteAnswer> FetchSiteAnswers(const std::vector<std::string>& sites,
                                         const PortalProbeTiming& timing = {},
                                         HostResolver resolver = {});

// FetchSiteAnswers, judged.
std::optional<PortalFinding> FindCaptivePortal(const std::vector<std::string>& sites,
                                               const PortalProbeTiming& timing = {},
                                               HostResolver resolver = {});

}  // namespace lumidex
