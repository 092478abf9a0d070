// Does this computer reach the Internet at all? Tries a TCP connection to each of a list of
// large public sites at once and answers with the share that accepted one within a short
// wait, as a whole percentage. No request is sent: an accepted connection is the whole test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/Diagnosis.h"
#include "platform/TcpSocket.h"

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

struct InternetProbeResult {
    unsigned percentage = 0;
    // The connect of each site, in the list's order, as it stood when the wait ended: those
    // that ended by then, and, when the whole wait ran out, those still pending (timed out).
    // A site still pending when enough sites had answered is left out: nobody waited for it.
    std::vector<ProbeRecord> connects;
};

// The record of one TCP connect to target that ended with result after elapsedMs (the name's
// look-up included); an attempt aborted because its wait ended counts as timed out. When the
// name did not resolve, no connect was made: the record is the failed look-up's.
ProbeRecord ConnectRecord(std::string target, platform::ConnectResult result, double elapsedMs,
                          bool lookupFailed = false);

// Percentage (0 to 100, remainder dropped) of sites that accepted a TCP connection before the
// wait ended. Each site is a host name or a dotted address, optionally with ":port" (else
// 80). An empty list gives 0 at once without starting any thread. Pending attempts are
// aborted when the wait ends, so the call takes at most about waitMs.
unsigned CheckInternetConnection(const std::vector<std::string>& sites,
                                 const InternetProbeTiming& timing = {});
// The same with every site's connect. Records nothing itself: the sites run on threads of
// their own, and the caller records from its thread.
InternetProbeResult ProbeInternetSites(const std::vector<std::string>& sites,
                                       const InternetProbeTiming& timing = {});

}  // namespace lumidex
