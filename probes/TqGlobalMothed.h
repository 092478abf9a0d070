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

    // The echo probe through the seam: replies out of count.
    int PingHost(std::string_view host, unsigned count);
    // Pings every server (the configuration's DNS servers when servers is null)
    // kEchoRequestsPerHost times, sets DnsServerText to the servers joined by "," and returns the
    // total replies. Side by side, the servers are pinged at once instead of one after another.
    int PingDnsServers(const std::vector<std::string>* servers = nullptr, bool sideBySide = false);

    const std::string& LocalIp() const { return m_localIp; }
    const std::string& DefaultGateway() const { return m_defaultGateway; }
    const std::string& DnsServerText() const { return m_dnsServerText; }
    NetworkConfig& Network() { return m_networkConfig; }
    const NetworkConfig& Network() const { return m_networkConfig; }

    // The IE and connection queries (from the Wine prefix and the interface list).
    bool IsIEOffline();
    void CheckIEProxy(std::int32_t& proxySet, std::int32_t& proxyReachable);
    std::int32_t GetLocalConnectionState();
    // Share of the public sites (0 to 100) that accept a TCP connection within the wait.
    unsigned CheckInternetConnection();
    const std::vector<std::string>& SiteList() const { return m_siteList; }

private:
    bool TryCurrentAdapter();

    std::string m_localIp;
    std::string m_defaultGateway;
    std::string m_dnsServerText;
    NetworkConfig m_networkConfig;
    // The public web sites of the Internet reachability probe (its size is the site count),
    // filled at construction by that probe's code.
    std::vector<std::string> m_siteList;
    NetworkSeams m_probes;
};

}  // namespace lumidex
