// Asks the router, read-only, whether it offers port mapping: UPnP IGD, NAT-PMP and PCP side
// by side, each on a thread of its own, the whole bounded so that a router that answers none
// costs about a second (UPnP's search cannot be shorter). Where UPnP answers it is also asked
// whether the client's UDP ports are mapped. Nothing is mapped here.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/Diagnosis.h"
#include "engine/P2pObservations.h"
#include "probes/UpnpGateway.h"

namespace lumidex {

// A router that answers none of the three costs this long (UPnP's search, which cannot be
// shorter than a second, up to kUpnpDiscoveryLate more).
inline constexpr std::chrono::milliseconds kPortMappingBound{1000};
// How late the search may end past its own wait: the library's bookkeeping after it.
inline constexpr std::chrono::milliseconds kUpnpDiscoveryLate{100};
// Once a UPnP device answered the search, its commands may take this much past the bound:
// a router that answered is worth hearing out, and the P2P check as a whole has two seconds.
inline constexpr std::chrono::milliseconds kUpnpCommandGrace{700};
// The client holds a handful of UDP ports; each one asked is one more round trip.
inline constexpr std::size_t kMaxClientPortsAsked = 8;

struct PortMappingOptions {
    std::chrono::milliseconds bound = kPortMappingBound;
    std::chrono::milliseconds upnpGrace = kUpnpCommandGrace;
    UpnpFindOptions upnp;
    // False: UPnP is not asked at all (tests of NAT-PMP and PCP alone, which must not search).
    bool askUpnp = true;
};

class PortMappingProbe {
public:
    explicit PortMappingProbe(PortMappingOptions options = {});
    // Waits for the threads of the last run, some of which may outlive Run by the library's
    // own time-outs.
    ~PortMappingProbe();
    PortMappingProbe(const PortMappingProbe&) = delete;
    PortMappingProbe& operator=(const PortMappingProbe&) = delete;

    // gateway: dotted, the default gateway (NAT-PMP and PCP are not asked without one).
    // clientUdpPorts: the client's UDP ports, possibly none. One answer per protocol asked, in
    // the order UPnP, NAT-PMP, PCP; clientPorts gets one entry per port asked where UPnP found
    // a gateway device.
    std::vector<PortMappingAnswer> Run(const std::string& gateway,
                                       const std::vector<std::uint16_t>& clientUdpPorts,
                                       std::vector<ClientPortMapping>& clientPorts);
    // From another thread: Run returns at once with what it has; a later Run returns at once.
    void Cancel();
    std::vector<ProbeRecord> TakeProbes();

private:
    struct Shared;
    void JoinThreads();

    PortMappingOptions m_options;
    std::mutex m_mutex;  // m_shared, m_probes, m_cancelled
    std::shared_ptr<Shared> m_shared;
    std::vector<ProbeRecord> m_probes;
    bool m_cancelled = false;
    std::vector<std::thread> m_threads;
};

}  // namespace lumidex
