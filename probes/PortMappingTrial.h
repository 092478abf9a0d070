// The one place that changes the router: adds a short-lived UDP mapping through UPnP, reads
// it back and deletes it, to tell whether the router allows mapping at all. Run only when the
// user asks for it.
#pragma once

#include <cstdint>
#include <string>

#include "probes/UpnpGateway.h"

namespace lumidex {

// Long enough to read the mapping back; short enough that a mapping left behind by a failed
// delete lapses on its own.
inline constexpr int kTrialLeaseSeconds = 60;
inline constexpr char kTrialDescription[] = "Lumidex test mapping";

struct PortMappingTrial {
    bool igdFound = false;  // a UPnP gateway device answered
    bool allowed = false;   // the router added the mapping and kept it as asked
    std::uint16_t port = 0;
    std::string localAddress;     // this computer, as the router's connection sees it
    std::string externalAddress;  // the router's own, when it gave one
    // Why it was not allowed; empty when it was.
    std::string error;
    // A delete that failed after the mapping was added (it lapses with its lease).
    std::string deleteError;
};

// The default gateway of the lowest-metric IPv4 default route, dotted; empty without one.
std::string DefaultGateway();

// A port from the dynamic range (49152-65535), so that the trial collides with no service.
std::uint16_t RandomTrialPort();

PortMappingTrial TryUpnpPortMapping(const std::string& gateway, std::uint16_t port,
                                    const UpnpFindOptions& options = {});

}  // namespace lumidex
