// The service checks' probes started when the run starts, side by side, so that silent hosts
// are waited for while the basic rows are still being checked: the channel-list download and
// parse, then the sampled channel servers and trackers (a socket each), and every host of the
// three host groups. The walk takes each result at its place through the calls below, which
// replay what the probe wrote, so rows, findings and log come out as in the one-at-a-time
// walk. Destroying it abandons what is still under way and waits for its threads.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/CheckProbes.h"
#include "engine/ProbeReporter.h"
#include "engine/ProbeTasks.h"
#include "service/ServiceHostLists.h"
#include "service/ServiceHostProbe.h"
#include "service/ServiceLimits.h"
#include "service/UdpServerProbe.h"

namespace lumidex {

// What the walk's service steps ask for, in the order they ask: each group is probed the way
// its row tests it, and each server group with its sample size.
struct AheadPlan {
    std::string channelListUrl;
    std::array<HostTestMode, 3> modes;  // by HostGroup
    std::array<int, 2> sampleSizes;     // by ServerGroup
};

class ServiceAhead {
public:
    // A test left empty in tests is a cancellable TCP connection or the system's echo probe; an
    // empty get is the real request, closed at once when the run is abandoned. stopPressed
    // (when given) peeks at the stop button: once it was pressed no server is probed, for the
    // walk will not reach them.
    ServiceAhead(ServiceHostLists& lists, ChannelListGet get, HostTests tests, AheadPlan plan,
                 std::chrono::milliseconds udpTimeout = kProbeReceiveTimeout,
                 std::function<bool()> stopPressed = {});
    ~ServiceAhead();
    ServiceAhead(const ServiceAhead&) = delete;
    ServiceAhead& operator=(const ServiceAhead&) = delete;

    // The download's answer, once; nullopt when url is not the one started. While it waits, a
    // press of the stop button (stopPressed, else the one given at construction) abandons
    // everything that was started, so a list host that drips does not hold a stopped run
    // until the list's own deadline and no server is probed after the press; the download then
    // counts as failed and the list text stays as it was.
    std::optional<bool> TakeFetch(const std::string& url,
                                  const std::function<bool()>& stopPressed = {});
    // False when the parse was not done ahead (the caller parses then).
    bool TakeParse();
    // The outcomes for the group's walk; empty when the group was not started this way.
    HostOutcome HostOutcomes(HostGroup group, HostTestMode mode,
                             const std::vector<std::string>& hosts);
    // The server group's walk; nullopt when its sample was not drawn ahead with this size.
    std::optional<int> WalkServers(ProbeReporter& reporter, ServerGroup group, int sampleSize);

private:
    struct ServerPlan {
        std::vector<ServerRecord> entries;
        std::vector<bool> chosen;
        std::vector<ServerAttempts> attempts;  // by entry
    };
    struct ListResult {
        bool fetched = false;
        ProbeCapture parse;
        std::array<ServerPlan, 2> servers;  // by ServerGroup
    };
    ListResult FetchAndParse();
    // Everything still under way ends (its sockets closed) and nothing more begins; the
    // servers first, so that a list arriving meanwhile starts none of them.
    void Abandon();

    ServiceHostLists& m_lists;
    ChannelListGet m_get;
    HostTests m_tests;
    AheadPlan m_plan;
    std::chrono::milliseconds m_udpTimeout;
    std::function<bool()> m_stopPressed;
    // Declared before the tasks that start them, so destroyed after: the host tasks (the list
    // download among them) are joined first and start no server afterwards.
    ProbeTasks m_serverTasks;
    ProbeTasks m_hostTasks;
    ProbeFuture<ListResult> m_list;
    bool m_fetchTaken = false;
    bool m_parseTaken = false;
    std::array<std::vector<std::string>, 3> m_hosts;  // as started, by HostGroup
    std::array<std::vector<ProbeFuture<bool>>, 3> m_outcomes;
};

}  // namespace lumidex
