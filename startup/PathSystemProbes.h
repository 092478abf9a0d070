// The path probes of a real check: the echo burst to the default gateway, the datagram bursts
// to the servers that answered, and the traces, each burst on a thread of its own.
#pragma once

#include <memory>

#include "engine/CheckProbes.h"

namespace lumidex {

std::unique_ptr<PathProbes> MakeSystemPathProbes();

}  // namespace lumidex
