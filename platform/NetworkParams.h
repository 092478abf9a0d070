// The host's global network parameters as the system's network-parameters query gives them on
// Windows, read from the Linux resolver configuration: host name, domain, DNS servers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lumidex::platform {

struct NetworkParams {
    std::string hostName;
    std::string domainName;
    // Dotted IPv4 addresses in the order the configuration lists them.
    std::vector<std::string> dnsServers;
    // 1 when at least one DNS server is configured.
    std::uint32_t dnsEnabled = 0;
};

// Where the parameters come from; tests point root at a fixture tree and fix the host name.
struct NetworkParamsSource {
    std::filesystem::path root = "/";
    // Empty: gethostname().
    std::function<std::string()> hostName;
};

// What one resolv.conf says that matters here.
struct ResolverConfig {
    std::string domain;                    // the domain line, else the first search entry
    std::vector<std::string> nameservers;  // IPv4 only, in file order
};

// resolv(5) grammar, line by line: "#" or ";" starts a comment line; a line is a keyword and
// its arguments separated by blanks; of "domain" and "search" the last line wins, as in the
// C library; "nameserver" lines accumulate; unknown keywords and IPv6 servers are skipped.
ResolverConfig ParseResolverConfig(std::string_view text);

// Host name, domain and DNS servers. The DNS servers are those of <root>/etc/resolv.conf,
// except when it names only the systemd-resolved stub (127.0.0.53 or 127.0.0.54): pinging the
// stub proves nothing about the network, so the servers it forwards to, from
// <root>/run/systemd/resolve/resolv.conf, are taken instead (none when that file has none).
// Never fails: what cannot be read stays empty.
NetworkParams GetNetworkParams(const NetworkParamsSource& source = {});

}  // namespace lumidex::platform
