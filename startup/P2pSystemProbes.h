// The peer-reachability probes of a real check: STUN, port mapping on the default gateway and
// the hop past it, each on a thread of its own, side by side.
#pragma once

#include <memory>

#include "engine/CheckProbes.h"
#include "startup/PrefixDiscovery.h"

namespace lumidex {

// prefix: where the client is looked for, whose UDP ports UPnP is asked about.
std::unique_ptr<P2pProbes> MakeSystemP2pProbes(PrefixChoice prefix);

}  // namespace lumidex
