// The source address the kernel's routes pick for a destination: what a socket bound to any
// address sends from, and so what a peer or a server sees before any NAT rewrites it.
#pragma once

#include <optional>

#include "platform/UdpSocket.h"

namespace lumidex::platform {

// A throwaway datagram socket connected to destination (a connect sends nothing), asked for
// its own address. Nothing when no route leads there.
std::optional<Ipv4Endpoint> RouteSource(const Ipv4Endpoint& destination);

}  // namespace lumidex::platform
