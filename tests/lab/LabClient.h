// Small blocking clients for the lab tests: each call is bounded by its own time-out, opens
// its own socket and closes it before returning.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/UniqueFd.h"

namespace lumidex::labtest {

using std::chrono::milliseconds;

enum class ConnectResult { Connected, Refused, TimedOut, Unreachable, Failed };
const char* ToString(ConnectResult result);

// Connects to address:port (dotted IPv4); on Connected, fd holds the socket.
ConnectResult TcpConnect(const std::string& address, std::uint16_t port, milliseconds timeout,
                         platform::UniqueFd* fd = nullptr);

bool SendAll(int fd, const std::string& bytes);

struct Received {
    std::string bytes;
    bool closed = false;  // the peer closed (false: the time-out ended the wait)
};
// Reads until the peer closes, the time-out passes, or max bytes arrived.
Received ReadUntilClose(int fd, milliseconds timeout, std::size_t max = 1 << 20);

// Sends request on a fresh connection and reads the answer until close or time-out.
std::optional<Received> Exchange(const std::string& address, std::uint16_t port,
                                 const std::string& request, milliseconds timeout);

struct Datagram {
    std::string from;  // dotted address of the sender
    std::uint16_t fromPort = 0;
    std::vector<std::uint8_t> bytes;
};
// Sends one datagram from an unconnected socket and collects what comes back (from any sender)
// until maxReplies arrived or the time-out passed.
std::vector<Datagram> UdpExchange(const std::string& address, std::uint16_t port,
                                  const std::vector<std::uint8_t>& request, milliseconds timeout,
                                  std::size_t maxReplies = 1);

// The 12-byte probe request for a server.
std::vector<std::uint8_t> ProbeRequest(const std::string& address, std::uint16_t port);
// The receiver's rules for an accepted probe reply.
bool IsValidProbeReply(const std::vector<std::uint8_t>& bytes);

// ICMP echo over a raw socket (needs root): the number of matching replies out of count.
int Ping(const std::string& address, int count, milliseconds timeoutEach);

// Addresses the system resolver gives for a name (through the hosts file and DNS).
std::vector<std::string> Resolve(const std::string& name);

}  // namespace lumidex::labtest
