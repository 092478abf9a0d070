// Every Kelvora endpoint the service checks test, owned by the check engine for its lifetime:
// the three built-in host groups, the trackers and channel servers learnt from channel lists
// (they grow, so later runs still probe servers learnt earlier, up to kMaxKeptServers each), the
// last channel list downloaded and the probe socket.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/CheckProbes.h"
#include "net/HttpResponseReader.h"
#include "platform/TcpSocket.h"
#include "service/ServerList.h"
#include "service/UdpProbeSocket.h"

namespace lumidex {

// What one channel-list request came back with: the status (anything but 200 for a failed
// connection) and the body, when there was one; and, for the diagnosis, how the exchange went.
struct ChannelListResponse {
    int status = 0;
    std::optional<std::string> body;
    platform::ConnectResult connect = platform::ConnectResult::Connected;
    bool lookupFailed = false;          // the host name did not resolve: no connect was tried
    std::optional<double> firstByteMs;  // nullopt: no byte of a response arrived
    std::optional<double> totalMs;
    ReadError readError = ReadError::None;
};

// Sends "GET <path of url> HTTP/1.1", the extra header fields exactly as given and an empty
// line, and closes the connection afterwards; the engine passes its HTTP GET client in here.
using ChannelListGet =
    std::function<ChannelListResponse(const std::string& url, const std::string& extraHeaders)>;

// The five header fields of the channel-list request, in their order, for the given host.
std::string ChannelListRequestHeaders(std::string_view host);

class ProbeTasks;

// The real request: one HttpGetClient, one Get, closed afterwards. With cancel, cancelling
// those tasks closes the connection at once, and a request after the cancel is not sent.
ChannelListGet HttpChannelListGet(ProbeTasks* cancel = nullptr);

// Adds the servers a channel list named (in its order) to a kept list, which then holds at
// most kMaxKeptServers: when they do not fit beside those kept, the kept ones not named again
// are dropped, and of a list naming more, the first kMaxKeptServers count. A server already
// kept keeps its port.
void KeepServers(ServerList& kept, const std::vector<ServerRecord>& named);

class ServiceHostLists {
public:
    // The host groups are filled from the built-in lists.
    ServiceHostLists();
    virtual ~ServiceHostLists();
    ServiceHostLists(const ServiceHostLists&) = delete;
    ServiceHostLists& operator=(const ServiceHostLists&) = delete;

    // Holds the host-group lock; the depth counter is raised before the lock is taken and
    // lowered after it is released.
    class HostsLock {
    public:
        explicit HostsLock(ServiceHostLists& lists);
        ~HostsLock();
        HostsLock(const HostsLock&) = delete;
        HostsLock& operator=(const HostsLock&) = delete;

    private:
        ServiceHostLists& m_lists;
    };

    // Appends every comma-separated piece of text (an empty one between two commas too, a
    // trailing empty one not) to the group, under the lock.
    void AppendHosts(std::string_view text, HostGroup group);
    // Read under a HostsLock while other threads may append.
    const std::vector<std::string>& Hosts(HostGroup group) const;
    int LockDepth() const { return m_lockDepth.load(); }

    // Downloads the channel list with get (one request). True for status 200, whose body (up
    // to a NUL byte) replaces the channel-list text; otherwise the text stays as it was. Only
    // URLs starting "http" or "HTTP" are asked for; others are refused without a log line.
    bool FetchChannelList(std::string_view url, const ChannelListGet& get);
    // Adds the channel servers and trackers named by the channel-list text to the two lists
    // and logs their sizes. A text that is not a channel list adds nothing, and is noted as
    // a problem with the parser's reason.
    void ParseChannelList();
    // Whether the last ParseChannelList read a channel list that named a server. The lists
    // above also hold what earlier lists named, so they cannot tell a login page from a list.
    bool LastListNamedServers() const { return m_lastListNamedServers; }

    ServerList& Trackers() { return m_trackers; }
    ServerList& ChannelServers() { return m_channelServers; }
    const std::string& ChannelListText() const { return m_channelListText; }
    void SetChannelListText(std::string text) { m_channelListText = std::move(text); }
    UdpProbeSocket& ProbeSocket() { return m_probeSocket; }

private:
    std::vector<std::string>& Group(HostGroup group);
    // The text is no channel list, for the reason given.
    void NoteMalformed(std::string reason) const;

    std::vector<std::string> m_websiteHosts;
    std::vector<std::string> m_listHosts;
    std::vector<std::string> m_informationHosts;
    std::mutex m_lock;
    std::atomic<int> m_lockDepth{0};
    ServerList m_trackers;
    ServerList m_channelServers;
    std::string m_channelListText;
    std::string m_channelListUrl;  // where the text came from
    bool m_lastListNamedServers = false;
    UdpProbeSocket m_probeSocket;
};

}  // namespace lumidex
