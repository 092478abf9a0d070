// What the computer believes about its network: host name, domain and DNS servers, read and
// logged once when the object is created, and its adapters, read and logged one at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/AdaptersInfo.h"
#include "platform/NetworkParams.h"

namespace lumidex {

// Where the configuration comes from. The default reads the system; tests hand in fixtures.
struct NetworkConfigSource {
    std::function<platform::NetworkParams()> params;
    std::function<std::vector<platform::AdapterRecord>()> adapters;
};

NetworkConfigSource SystemNetworkConfigSource();

class NetworkConfig {
public:
    // Reads and logs the global parameters.
    explicit NetworkConfig(NetworkConfigSource source = SystemNetworkConfigSource());
    virtual ~NetworkConfig() = default;
    NetworkConfig(const NetworkConfig&) = delete;
    NetworkConfig& operator=(const NetworkConfig&) = delete;

    // Fetches the adapter list anew and reads (and logs) its first adapter. False when there
    // is no adapter.
    bool FirstAdapter();
    // Reads (and logs) the adapter at the cursor and moves on. True only when another adapter
    // remains after it; false without reading when the list is exhausted.
    bool NextAdapter();

    const std::vector<std::string>& DnsServers() const { return m_dnsServers; }
    const std::string& HostName() const { return m_hostName; }
    const std::string& DomainName() const { return m_domainName; }
    std::uint32_t DnsEnabled() const { return m_dnsEnabled; }
    // The adapter read last.
    const std::vector<std::string>& AdapterAddresses() const { return m_adapterAddresses; }
    const std::vector<std::string>& AdapterGateways() const { return m_adapterGateways; }
    const std::vector<std::string>& AdapterDhcpServers() const { return m_adapterDhcpServers; }
    // Keeps the text of an earlier adapter when the one read last has no current address.
    const std::string& AdapterCurrentAddress() const { return m_adapterCurrentAddress; }
    std::uint32_t AdapterDhcpEnabled() const { return m_adapterDhcpEnabled; }

private:
    void ReadNetworkParams();
    void ReadAdapter(const platform::AdapterRecord& adapter);

    NetworkConfigSource m_source;
    std::vector<std::string> m_dnsServers;
    std::string m_hostName;
    std::string m_domainName;
    std::uint32_t m_dnsEnabled = 0;
    std::vector<std::string> m_adapterAddresses;
    std::vector<std::string> m_adapterGateways;
    std::vector<std::string> m_adapterDhcpServers;
    std::string m_adapterCurrentAddress;
    std::uint32_t m_adapterDhcpEnabled = 0;
    // The list fetched last and the position of the next adapter to read in it.
    std::vector<platform::AdapterRecord> m_adapterBuffer;
    std::size_t m_adapterCursor = 0;
};

// What the window does when it opens: reads (and so logs) the global parameters and the
// block of every adapter once.
void LogNetworkConfiguration();

}  // namespace lumidex
