// Traces of the paths to a few targets, side by side: every TTL from 1 to kTraceMaxTtl probed
// at once, kTraceProbesPerHop probes each, and the answers sorted by the probe they answer.
// Routers' time-exceeded and unreachable answers are read from the socket's error queue
// (IP_RECVERR), so an unprivileged ICMP socket does; without one, UDP datagrams to unused
// ports carry the TTLs instead, and the target's port-unreachable says it was reached.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/Diagnosis.h"
#include "engine/PathObservations.h"
#include "platform/CancelSignal.h"
#include "platform/IcmpSocket.h"

namespace lumidex {

// Paths beyond 20 hops are rare; a longer one still shows where the first 20 lead.
inline constexpr int kTraceMaxTtl = 20;
// Three tell a lost probe from a rate-limiting router without loading the path.
inline constexpr int kTraceProbesPerHop = 3;
// Every trace of a run ends within this, answered or not.
inline constexpr std::chrono::milliseconds kTraceBudget{3000};
// Once the target answered, the answers of the hops before it are awaited this much longer
// (at least; twice the target's round trip when that is longer).
inline constexpr std::chrono::milliseconds kTraceSettle{300};
// The first port of the UDP probes, as traceroute's: unused by services, so the target
// answers port-unreachable.
inline constexpr std::uint16_t kTraceUdpBasePort = 33434;

enum class TraceMethod {
    Auto,  // an ICMP socket (raw when the program may, else the ping socket), else UDP
    Icmp,  // an ICMP socket only
    Udp,   // UDP only
};

struct PathTraceOptions {
    TraceMethod method = TraceMethod::Auto;
    platform::IcmpSocketPolicy icmpPolicy = platform::IcmpSocketPolicy::Any;
    int maxTtl = kTraceMaxTtl;
    int probesPerHop = kTraceProbesPerHop;
    std::chrono::milliseconds budget = kTraceBudget;
    std::uint16_t udpBasePort = kTraceUdpBasePort;
};

class PathTracer {
public:
    // Targets dotted; the first kMaxTracedTargets are traced, each on a thread of its own,
    // all within options.budget. A target no socket could be had for has no hops.
    std::vector<PathTrace> Run(const std::vector<std::string>& targets,
                               const PathTraceOptions& options = {});
    // From another thread: Run returns at once with what it has.
    void Cancel() { m_cancel.Cancel(); }
    // One record per hop kept: "icmp" or "udp", step "trace", the hop's address (or the
    // target while none answered) and median time.
    std::vector<ProbeRecord> TakeProbes();

private:
    PathTrace TraceOne(const std::string& target, const PathTraceOptions& options);

    platform::CancelSignal m_cancel;
    std::mutex m_mutex;
    std::vector<ProbeRecord> m_probes;
};

}  // namespace lumidex
