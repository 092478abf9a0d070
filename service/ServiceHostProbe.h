// The service host probe: tests every host of one service group, by TCP connection or by
// echo, reports the group's row as the share of hosts that answered and lists each host that
// did not in the findings.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/CheckProbes.h"
#include "engine/Diagnosis.h"
#include "engine/ProbeTasks.h"
#include "platform/TcpSocket.h"

namespace lumidex {

class ServiceHostLists;

// How one host is tested; tests replace either.
struct HostTests {
    // True when at least one of kEchoRequestsPerHost echo requests was answered.
    std::function<bool(const std::string& host)> ping;
    // True when a TCP connection to "host[:port]" (port 80 when none) was established.
    std::function<bool(const std::string& host)> connect;
};
HostTests SystemHostTests();

// A connection test through a fresh HTTP client: connect, then close. With cancel, cancelling
// those tasks ends the test at once, and a test after the cancel connects nowhere. A host
// name is looked up first (a text starting with a digit is taken as an address, as the
// client takes it); the look-up and the connect are recorded as probes (a name that does not
// resolve as its failed look-up alone).
bool TestTcpConnection(const std::string& host, ProbeTasks* cancel = nullptr);
// kEchoRequestsPerHost echo requests to host, its name looked up and recorded the same way;
// true when one was answered.
bool PingServiceHost(const std::string& host);

// Walks hosts under the lists' lock. An empty group leaves everything untouched.
void ProbeServiceHosts(ProbeReporter& reporter, ServiceHostLists& lists,
                       const std::string& itemName, HostGroup group,
                       const std::vector<std::string>& hosts, HostTestMode mode,
                       const HostTests& tests);

// Whether hosts[index] answered: tested at the call, or taken from a test started earlier.
using HostOutcome = std::function<bool(std::size_t index)>;
// The walk itself, in list order, with the row, findings, progress steps and stop polls; the
// hosts that failed become the group's problem on the row, and the names among the row's failed
// look-ups one problem beside it, both warnings while some host answered.
void WalkServiceHosts(ProbeReporter& reporter, ServiceHostLists& lists, const std::string& itemName,
                      HostGroup group, const std::vector<std::string>& hosts,
                      const HostOutcome& outcome);

}  // namespace lumidex
