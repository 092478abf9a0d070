#include "probes/TqGlobalMothed.h"

#include <future>
#include <system_error>
#include <utility>

#include "engine/CheckProbes.h"
#include "engine/Diagnosis.h"
#include "engine/EchoRecords.h"
#include "net/IcmpEcho.h"
#include "net/NetAddress.h"
#include "platform/HostLookup.h"
#include "probes/ConnectionState.h"
#include "probes/IeSettings.h"
#include "probes/InternetProbe.h"

namespace lumidex {
namespace {

// Any nonzero port: an address text has none, and IsUsable asks for one.
constexpr std::uint16_t kProbePort = 1000;

// The first entry of texts that parses to a usable address, or null.
const std::string* FirstUsable(const std::vector<std::string>& texts) {
    for (const std::string& text : texts) {
        NetAddress address;
        address.Parse(std::string_view(text), true);
        address.port = kProbePort;
        if (address.IsUsable()) {
            return &text;
        }
    }
    return nullptr;
}

}  // namespace

CTqGlobalMothed::CTqGlobalMothed(NetworkSeams probes)
    : m_networkConfig(probes.config), m_siteList(PublicSiteList()), m_probes(std::move(probes)) {
    if (!m_probes.hostName) {
        m_probes.hostName = [] { return platform::GetHostName(); };
    }
    if (!m_probes.resolve) {
        m_probes.resolve = [](std::string_view name) { return platform::GetHostByName(name); };
    }
    if (!m_probes.pingHost) {
        m_probes.pingHost = [](std::string_view host, unsigned count) {
            return PingHostTurns(host, count);
        };
    }
}

CTqGlobalMothed::~CTqGlobalMothed() = default;

std::uint32_t CTqGlobalMothed::GetSelfIP(std::vector<std::uint32_t>& addresses) {
    const std::optional<std::string> name = m_probes.hostName();
    if (!name) {
        return 0;
    }
    std::uint32_t first = 0;
    for (std::uint32_t address : m_probes.resolve(*name)) {
        addresses.push_back(address);
        if (first == 0) {
            first = address;
        }
    }
    return first;
}

bool CTqGlobalMothed::TryCurrentAdapter() {
    const std::string* address = FirstUsable(m_networkConfig.AdapterAddresses());
    const std::string* gateway = FirstUsable(m_networkConfig.AdapterGateways());
    if (address == nullptr || gateway == nullptr) {
        return false;
    }
    m_localIp = *address;
    m_defaultGateway = *gateway;
    return true;
}

// With one adapter the last NextAdapter reads nothing, so that adapter is tried twice; the
// answer is the same both times.
void CTqGlobalMothed::SelectAdapter() {
    m_networkConfig.FirstAdapter();
    if (TryCurrentAdapter()) {
        return;
    }
    bool more = true;
    while (more) {
        more = m_networkConfig.NextAdapter();
        if (TryCurrentAdapter()) {
            return;
        }
    }
}

int CTqGlobalMothed::PingHost(std::string_view host, unsigned count) {
    const std::vector<EchoTurn> turns = m_probes.pingHost(host, count);
    RecordEchoes(host, turns);
    return AnsweredTurns(turns);
}

int CTqGlobalMothed::PingDnsServers(const std::vector<std::string>* servers, bool sideBySide) {
    const std::vector<std::string>& list =
        servers != nullptr ? *servers : m_networkConfig.DnsServers();
    m_dnsServerText.clear();
    m_silentDnsServers.clear();
    // A system names a handful of servers at most; each ping ends within its own bounds. The
    // pings record nothing themselves: a thread of their own has none of the walk's rows.
    std::vector<std::future<std::vector<EchoTurn>>> pings;
    for (const std::string& server : list) {
        m_dnsServerText += server;
        m_dnsServerText += ',';
        const auto ping = [this, server] {
            return m_probes.pingHost(server, kEchoRequestsPerHost);
        };
        if (sideBySide) {
            try {
                pings.push_back(std::async(std::launch::async, ping));
                continue;
            } catch (const std::system_error&) {
                // No thread to be had: this server is pinged in line when its turn comes.
            }
        }
        pings.push_back(std::async(std::launch::deferred, ping));
    }
    int total = 0;
    for (std::size_t i = 0; i < pings.size(); ++i) {
        const std::vector<EchoTurn> turns = pings[i].get();
        RecordEchoes(list[i], turns);
        const int replies = AnsweredTurns(turns);
        if (replies == 0) {
            m_silentDnsServers.push_back(list[i]);
        }
        total += replies;
    }
    if (!m_dnsServerText.empty()) {
        m_dnsServerText.pop_back();
    }
    return total;
}

bool CTqGlobalMothed::IsIEOffline() {
    return lumidex::IsIEOffline();
}

void CTqGlobalMothed::CheckIEProxy(std::int32_t& proxySet, std::int32_t& proxyReachable,
                                   std::string& proxyText) {
    proxyText = lumidex::CheckIEProxy(proxySet, proxyReachable);
}

std::int32_t CTqGlobalMothed::GetLocalConnectionState() {
    return lumidex::GetLocalConnectionState();
}

unsigned CTqGlobalMothed::CheckInternetConnection() {
    InternetProbeResult result = ProbeInternetSites(m_siteList);
    m_unreachedSites.clear();
    for (ProbeRecord& connect : result.connects) {
        if (connect.outcome != ProbeOutcome::Ok) {
            m_unreachedSites.push_back(connect.target);
        }
        RecordProbe(std::move(connect));
    }
    return result.percentage;
}

}  // namespace lumidex
