// The first router past the default gateway: one ICMP echo sent with a TTL of 2 expires
// there, and the router's time-exceeded answer names it. A carrier-grade NAT shows up as that
// hop lying in the shared address space even when the home router reports nothing.
#pragma once

#include <chrono>
#include <string>

namespace lumidex {

inline constexpr std::chrono::milliseconds kHopWait{300};
// Two hops: the gateway forwards the echo, the next router drops it and answers.
inline constexpr int kHopTtl = 2;

// target: a public IPv4 address, dotted. The hop's address, dotted; empty when no
// time-exceeded answer came within timeout (or target is not an address, or no ICMP socket
// could be opened). Blocks the calling thread for at most timeout.
std::string HopPastGateway(const std::string& target, std::chrono::milliseconds timeout = kHopWait);

}  // namespace lumidex
