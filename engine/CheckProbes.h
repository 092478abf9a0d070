// What the check phases ask of the computer and the network, one interface per phase. The
// engine owns one set; the real set talks to the system, tests give the engine fakes, so a
// phase's verdicts, texts and counters can be checked without a network.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/Diagnosis.h"
#include "engine/InterceptionFindings.h"
#include "engine/P2pObservations.h"
#include "engine/PathObservations.h"
#include "platform/DesktopConnectivity.h"

namespace lumidex {

class ProbeReporter;

// Every echo probe of a check (gateway, DNS servers, service hosts) sends this many requests
// to each host.
inline constexpr int kEchoRequestsPerHost = 3;

// The probes of the basic network checks (rows 1 to 7).
class NetworkProbes {
public:
    virtual ~NetworkProbes() = default;
    // Re-reads the adapters and keeps the chosen one's address and gateway (an earlier
    // choice stays when none qualifies now).
    virtual void SelectAdapter() = 0;
    virtual std::string LocalIp() = 0;
    virtual std::string DefaultGateway() = 0;
    // The host's first address from its own name, dotted; empty when it has none.
    virtual std::string GetSelfIP() = 0;
    // Echo replies received of count requests.
    virtual int PingHost(const std::string& host, int count) = 0;
    // Replies from the configured DNS servers; afterwards DnsServerText() names them.
    virtual int PingDnsServers() = 0;
    // The same with every server pinged at once; one after another unless a probe set can do
    // better.
    virtual int PingDnsServersSideBySide() { return PingDnsServers(); }
    virtual std::string DnsServerText() = 0;
    // The servers of the last DNS ping that answered no echo, in their order.
    virtual std::vector<std::string> SilentDnsServers() = 0;
    virtual bool IsIEOffline() = 0;
    // proxySet: a proxy is configured; reachable: it accepted a connection.
    virtual void CheckIEProxy(int& proxySet, int& reachable) = 0;
    // The proxy text the last CheckIEProxy read; empty when none is set or the text is empty.
    virtual std::string ProxyText() = 0;
    // 1 dial-up connected, 2 connected, -1 broken.
    virtual int GetLocalConnectionState() = 0;
    // The dial-up connection that is still dialling; empty when none is.
    virtual std::string DiallingConnection() = 0;
    // Share of the public sites that accepted a connection, 0 to 100.
    virtual int CheckInternetConnection() = 0;
    // The sites of the last Internet probe whose connection failed, in the list's order.
    virtual std::vector<std::string> UnreachedSites() = 0;
    // A captive portal or intercepting proxy in front of the public sites, found by fetching a
    // few of them; bounded in time. Probes that cannot fetch find none.
    virtual std::optional<PortalFinding> FindCaptivePortal() { return std::nullopt; }
    // What the system resolver answers for a name that cannot exist; bounded in time. Probes
    // that cannot resolve find nothing.
    virtual ResolverFinding CheckResolverAnswers() { return {}; }
    // The desktop's own verdict (NetworkManager's connectivity state); bounded in time, none
    // where the desktop has nothing to say.
    virtual std::optional<platform::DesktopConnectivity> ReadDesktopConnectivity() {
        return std::nullopt;
    }
};

// The probes of the basic software checks (rows 8 to 12).
class SoftwareProbes {
public:
    virtual ~SoftwareProbes() = default;
    virtual std::string GetOsName() = 0;
    // Empty when the player or its version is unknown.
    virtual std::string WmpVersion() = 0;
    // The player's program path from App Paths; empty when unknown.
    virtual std::string WmpPath() = 0;
    virtual bool IsAssociatedWith(const std::string& extension, const std::string& program) = 0;
    virtual std::string GetAssociatedProgram(const std::string& extension) = 0;
    // Whether the list has the XP SP2 row, i.e. the system is XP with service pack 2.
    virtual bool HasXpSp2Row() = 0;
    // Sets row 12 itself, through the reporter.
    virtual void RunXpSp2PatchStep(ProbeReporter& reporter) = 0;
    // The Wine prefix the rows read, named in their problems' targets; "" when unknown.
    virtual std::string PrefixPath() { return {}; }
    // What this run learns of the client itself (no prefix holds it, several do, it does not
    // run), as problems of the first software row.
    virtual std::vector<Problem> ClientProblems() { return {}; }
};

// The sample sizes of the server walks.
inline constexpr int kChannelServerSample = 8;
inline constexpr int kTrackerSample = 6;

enum class HostGroup { Website, Information, List };
enum class HostTestMode { Ping, TcpConnection };
enum class ServerGroup { ChannelServers, Trackers };

// The probes of the service checks (rows 13 to 18).
class ServiceProbes {
public:
    virtual ~ServiceProbes() = default;
    // True when the list was downloaded (status 200) and its text replaced.
    virtual bool FetchChannelList(const std::string& url) = 0;
    virtual void ParseChannelList() = 0;
    // Whether the list the last parse read named a server. ServerCount cannot tell: it counts
    // the servers kept from earlier runs too.
    virtual bool ChannelListNamedServers() = 0;
    virtual void OpenUdpSocket(std::uint16_t port) = 0;
    // True when the hosts file was read and maps no product domain; otherwise the texts say
    // what was found (both empty when the file could not be read).
    virtual bool CheckHostsFile(std::string& wrongMapping, std::string& productMapping) = 0;
    virtual int HostCount(HostGroup group) = 0;
    virtual int ServerCount(ServerGroup group) = 0;
    // Reports the item's row itself and advances the service progress once per host.
    virtual void ProbeServiceHosts(ProbeReporter& reporter, const std::string& itemName,
                                   HostGroup group, HostTestMode mode) = 0;
    // Answered servers of a sample; advances the service progress once per sampled server.
    virtual int ProbeUdpServers(ProbeReporter& reporter, ServerGroup group, int sampleSize) = 0;

    // Called when a run starts, unless the run walks one probe at a time: may start the
    // probes that do not depend on earlier rows on threads of their own, so that the calls
    // above, at their place in the walk, take the results and write what the one-at-a-time
    // walk would write there. Probes that do nothing ahead answer every call at the call.
    virtual void StartAhead() {}
    // Called before StartAhead: tells, without taking the press, whether the stop button has
    // been pressed, so that a wait for something started ahead can be cut short by it.
    virtual void WatchStop(std::function<bool()> /*stopPressed*/) {}
    // At the end of every run: abandons what was started ahead and waits for its threads.
    virtual void FinishRun() {}
};

// The peer-reachability probes beside the rows (STUN, port mapping on the router, the hop
// past the gateway, IPv6). They depend on no row, so they run side by side with the walk.
class P2pProbes {
public:
    virtual ~P2pProbes() = default;
    // Starts every probe on threads of its own; returns at once.
    virtual void Start() = 0;
    // Waits for them; the whole ends within 2 s of Start.
    virtual P2pObservations Collect() = 0;
    // A stop: cancels every probe, then waits for their threads. Callable while another
    // thread waits in Collect, which then returns at once with what it has.
    virtual void Abandon() = 0;
};

// The servers of the server walk that get a burst: side by side they stay within a second.
inline constexpr std::size_t kMaxPathBurstServers = 3;

// The path measurements: a burst of echoes to the gateway beside the rows, bursts of probe
// datagrams to the servers that answered the server walk, then traces of the paths to the
// targets that failed or lost. The bursts run on threads of their own; Collect traces.
class PathProbes {
public:
    virtual ~PathProbes() = default;
    // Starts the gateway burst; returns at once.
    virtual void StartGatewayBurst() = 0;
    // Starts the bursts to these servers ("a.b.c.d:port", at most three); returns at once.
    virtual void StartUdpBursts(std::vector<std::string> servers) = 0;
    // Waits for the bursts, then traces traceTargets (host names or dotted addresses) and the
    // burst targets that lost; the traces end within 3 s of the bursts.
    virtual PathObservations Collect(std::vector<std::string> traceTargets) = 0;
    // A stop: cancels the bursts and traces, then waits for their threads. Callable while
    // another thread waits in Collect, which then returns at once with what it has.
    virtual void Abandon() = 0;
};

struct CheckProbes {
    std::unique_ptr<NetworkProbes> network;
    std::unique_ptr<SoftwareProbes> software;
    std::unique_ptr<ServiceProbes> service;
    std::unique_ptr<P2pProbes> p2p;
    std::unique_ptr<PathProbes> path;
};

}  // namespace lumidex
