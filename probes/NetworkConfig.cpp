#include "probes/NetworkConfig.h"

#include <utility>

#include "engine/DiagLog.h"

namespace lumidex {
namespace {

// The system leaves spare entries with an empty or placeholder text; no address is this short.
constexpr std::size_t kShortestAddressText = 5;

const char* YesNo(std::uint32_t flag) {
    return flag != 0 ? "Yes" : "No";
}

void AppendAddresses(std::vector<std::string>& to, const std::vector<std::string>& from) {
    for (const std::string& text : from) {
        if (text.size() >= kShortestAddressText) {
            to.push_back(text);
        }
    }
}

void LogList(const char* title, const std::vector<std::string>& entries) {
    Log(title);
    for (const std::string& entry : entries) {
        Log(entry);
    }
}

}  // namespace

NetworkConfigSource SystemNetworkConfigSource() {
    return {[] { return platform::GetNetworkParams(); },
            [] { return platform::GetAdaptersInfo(); }};
}

NetworkConfig::NetworkConfig(NetworkConfigSource source) : m_source(std::move(source)) {
    ReadNetworkParams();
}

void NetworkConfig::ReadNetworkParams() {
    if (!m_source.params) {
        return;
    }
    const platform::NetworkParams params = m_source.params();
    m_hostName = params.hostName;
    m_domainName = params.domainName;
    m_dnsEnabled = params.dnsEnabled;
    AppendAddresses(m_dnsServers, params.dnsServers);
    Log("主机名:" + m_hostName);
    Log("域名:" + m_domainName);
    Log(std::string("是否激活dns:") + YesNo(m_dnsEnabled));
    LogList("DNS服务器IP:", m_dnsServers);
}

bool NetworkConfig::FirstAdapter() {
    std::vector<platform::AdapterRecord> adapters;
    if (m_source.adapters) {
        adapters = m_source.adapters();
    }
    // A list that can no longer be fetched is dropped as well, so that NextAdapter cannot walk
    // on through adapters the system stopped reporting.
    m_adapterBuffer = std::move(adapters);
    m_adapterCursor = 0;
    if (m_adapterBuffer.empty()) {
        return false;
    }
    ReadAdapter(m_adapterBuffer[m_adapterCursor++]);
    return true;
}

bool NetworkConfig::NextAdapter() {
    if (m_adapterCursor >= m_adapterBuffer.size()) {
        return false;
    }
    ReadAdapter(m_adapterBuffer[m_adapterCursor++]);
    return m_adapterCursor < m_adapterBuffer.size();
}

void NetworkConfig::ReadAdapter(const platform::AdapterRecord& adapter) {
    m_adapterAddresses.clear();
    m_adapterGateways.clear();
    m_adapterDhcpServers.clear();
    m_adapterDhcpEnabled = adapter.dhcpEnabled;
    if (!adapter.currentAddress.empty()) {
        m_adapterCurrentAddress = adapter.currentAddress;
    }
    AppendAddresses(m_adapterAddresses, adapter.addresses);
    AppendAddresses(m_adapterGateways, adapter.gateways);
    AppendAddresses(m_adapterDhcpServers, adapter.dhcpServers);
    Log("网卡信息");
    Log(std::string("是否激活DHCP:") + YesNo(m_adapterDhcpEnabled));
    Log("当前IP:" + m_adapterCurrentAddress);
    LogList("所有IP:", m_adapterAddresses);
    LogList("默认网关IP:", m_adapterGateways);
    LogList("DHCP IP:", m_adapterDhcpServers);
}

void LogNetworkConfiguration() {
    NetworkConfig adapters;
    if (adapters.FirstAdapter()) {
        while (adapters.NextAdapter()) {
        }
    }
}

}  // namespace lumidex
