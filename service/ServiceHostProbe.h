// The service host probe: tests every host of one service group, by TCP connection or by
// echo, reports the group's row as the share of hosts that answered and lists each host that
// did not in the findings.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace lumidex {
class CheckEngine;
}

namespace lumidex::service {

class ServiceHostLists;

enum class HostTestMode { Ping = 0, TcpConnection = 1 };

// How one host is tested; tests replace either.
struct HostTests {
    // True when at least one of kEchoRequestsPerHost echo requests was answered.
    std::function<bool(const std::string& host)> ping;
    // True when a TCP connection to "host[:port]" (port 80 when none) was established.
    std::function<bool(const std::string& host)> connect;
};
HostTests SystemHostTests();

// "正常连接:N%", the detail of every service row that reports a share.
std::string NormalShareText(int percent);

// A connection test through a fresh HTTP client: connect, then close.
bool TestTcpConnection(const std::string& host);

// Walks hosts under the lists' lock. An empty group leaves everything untouched.
void ProbeServiceHosts(CheckEngine& engine, ServiceHostLists& lists, const std::string& itemName,
                       const std::vector<std::string>& hosts, HostTestMode mode,
                       const HostTests& tests);

}  // namespace lumidex::service
