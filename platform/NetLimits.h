// Every bound on what the network stand-ins and the ICMP probe read from outside, with its
// reason, in one place.
#pragma once

#include <cstddef>

namespace lumidex::platform {

// /etc/resolv.conf and the resolver's own copy: a few lines in practice; a file that grew
// beyond this is not a resolver configuration anyone maintains by hand.
inline constexpr std::size_t kMaxResolverFileBytes = 64 * 1024;

// /proc/net/route has one 128-byte line per route of the main table; a router with a full
// table is not the desktop this tool diagnoses, and its default routes come first anyway.
inline constexpr std::size_t kMaxRouteFileBytes = 1024 * 1024;

// A DHCP lease file: dhclient appends a block per renewal and rotates at start-up, so even a
// long-running client stays far below this.
inline constexpr std::size_t kMaxLeaseFileBytes = 1024 * 1024;

// Lease directories are scanned by name; a directory with more entries than this is not one
// a DHCP client keeps.
inline constexpr std::size_t kMaxLeaseDirEntries = 4096;

// One receive of an ICMP reply: a 20-byte IP header, the 45 bytes of the echoed request and
// room for IP options and a longer answer. A larger datagram is cut here, which is harmless:
// only the first bytes of the ICMP header are looked at.
inline constexpr std::size_t kIcmpReplyBufferBytes = 321;

}  // namespace lumidex::platform
