// The object of global network methods that the check engine owns for its whole life: the
// network configuration (read and logged when it is created), the adapter and DNS servers a
// run reports, and the probes the basic network checks call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "probes/NetworkConfig.h"
#include "probes/NetworkSeams.h"

namespace lumidex {

class CTqGlobalMothed {
public:
    // Reads and logs the global network parameters through probes.config.
    explicit CTqGlobalMothed(NetworkSeams probes = {});
    virtual ~CTqGlobalMothed();
    CTqGlobalMothed(const CTqGlobalMothed&) = delete;
    CTqGlobalMothed& operator=(const CTqGlobalMothed&) = delete;

    // Appends every IPv4 address of the host's own name to addresses (network byte order, the
    // resolver's order) and returns the first nonzero one; 0 when there is none.
    std::uint32_t GetSelfIP(std::vector<std::uint32_t>& addresses);
    // Re-reads the adapters (logging each one read) and, from the first adapter with a usable
    // address and a usable gateway, sets LocalIp and DefaultGateway. When none qualifies both
    // keep what an earlier call set.
    void SelectAdapter();

    // The echo probe through the seam: replies out of count. Records each request's probe on
    // the calling thread.
    int PingHost(std::string_view host, unsigned count);
    // Pings every server (the configuration's DNS servers when servers is null)
    // kEchoRequestsPerHost times, sets DnsServerText to the servers joined by "," and
    // SilentDnsServers to those that answered none, and returns the total replies. Side by
    // side, the servers are pinged at once instead of one after another; either way the probes
    // are recorded afterwards on the calling thread, server by server in the list's order.
    int PingDnsServers(const std::vector<std::string>* servers = nullptr, bool sideBySide = false);

    const std::string& LocalIp() const { return m_localIp; }
    const std::string& DefaultGateway() const { return m_defaultGateway; }
    const std::string& DnsServerText() const { return m_dnsServerText; }
    const std::vector<std::string>& SilentDnsServers() const { return m_silentDnsServers; }
    NetworkConfig& Network() { return m_networkConfig; }
    const NetworkConfig& Network() const { return m_networkConfig; }

    // The IE and connection queries (from the Wine prefix and the interface list).
    bool IsIEOffline();
    // proxyText: the proxy server text read (empty when none is set or the text is empty).
    void CheckIEProxy(std::int32_t& proxySet, std::int32_t& proxyReachable, std::string& proxyText);
    std::int32_t GetLocalConnectionState();
    // Share of the public sites (0 to 100) that accept a TCP connection within the wait. Records
    // the sites' connects on the calling thread; UnreachedSites then names the sites that failed.
    unsigned CheckInternetConnection();
    const std::vector<std::string>& UnreachedSites() const { return m_unreachedSites; }
    const std::vector<std::string>& SiteList() const { return m_siteList; }

private:
    bool TryCurrentAdapter();

    std::string m_localIp;
    std::string m_defaultGateway;
    std::string m_dnsServerText;
    std::vector<std::string> m_silentDnsServers;
    std::vector<std::string> m_unreachedSites;
    NetworkConfig m_networkConfig;
    // The public web sites of the Internet reachability probe (its size is the site count),
    // filled at construction by that probe's code.
    std::vector<std::string> m_siteList;
    NetworkSeams m_probes;
};

}  // namespace lumidex
