// An ICMP socket for echo requests. A raw socket needs root or CAP_NET_RAW; without them the
// kernel's unprivileged ping socket (allowed by net.ipv4.ping_group_range) does the same job
// with two differences the caller must know: the kernel puts its own identifier into every
// request (and delivers only the replies carrying it), and replies arrive without the IP
// header.
#pragma once

#include <cstdint>

#include "platform/UniqueFd.h"

namespace lumidex::platform {

enum class IcmpSocketKind {
    None,      // neither kind could be opened
    Raw,       // SOCK_RAW: replies include the IP header; the identifier is ours
    Datagram,  // SOCK_DGRAM ping socket: no IP header; the kernel's identifier
};

// Which kinds to try, in the order raw then datagram; tests force one of them.
enum class IcmpSocketPolicy { Any, RawOnly, DatagramOnly };

struct IcmpSocket {
    UniqueFd fd;
    IcmpSocketKind kind = IcmpSocketKind::None;
    // The identifier as the two bytes at offset 4 of the ICMP header, read little-endian:
    // for a datagram socket the one the kernel assigned when the socket was bound, for a raw
    // socket 0 (the caller chooses its own).
    std::uint16_t kernelIdentifier = 0;
};

IcmpSocket OpenIcmpSocket(IcmpSocketPolicy policy = IcmpSocketPolicy::Any);

}  // namespace lumidex::platform
