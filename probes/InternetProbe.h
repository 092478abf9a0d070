// Does this computer reach the Internet at all? Tries a TCP connection to each of a list of
// large public sites at once and answers with the share that accepted one within a short
// wait, as a whole percentage. No request is sent: an accepted connection is the whole test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumidex {

struct InternetProbeTiming {
    // The longest wait for enough sites to answer.
    int waitMs = 3000;
    // Sites that must answer before the wait may end early.
    std::uint16_t enough = 6;
    // Budget for stopping each site's thread once its socket is closed.
    int stopBudgetMs = 100000;
};

// The fixed list of public sites, in order (ten host names).
std::vector<std::string> PublicSiteList();

// Percentage (0 to 100, remainder dropped) of sites that accepted a TCP connection before the
// wait ended. Each site is a host name or a dotted address, optionally with ":port" (else
// 80). An empty list gives 0 at once without starting any thread. Pending attempts are
// aborted when the wait ends, so the call takes at most about waitMs.
unsigned CheckInternetConnection(const std::vector<std::string>& sites,
                                 const InternetProbeTiming& timing = {});

}  // namespace lumidex
