// What the path probes measured, before any decision: bursts of echoes to the gateway and of
// probe datagrams to the service, and traces of the paths to the targets that failed or lost.
// The probes fill it; DecidePath makes the run's path result from it alone, so every decision
// can be tested from scripted measurements.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "engine/Diagnosis.h"

namespace lumidex {

// Traces of one run together must end in seconds, and a run with every host silent would
// otherwise trace every one of them.
inline constexpr std::size_t kMaxTracedTargets = 8;

// A burst: enough probes to see one in twenty lost, close enough together to see jitter, and
// done in about a second. Answers are awaited for kBurstGrace after the last probe; a later
// one is lost for the figures, as it would be for a stream.
inline constexpr int kBurstProbes = 20;
inline constexpr std::chrono::milliseconds kBurstInterval{50};
inline constexpr std::chrono::milliseconds kBurstGrace{500};

// One burst to one target: how many probes went out and the round-trip times of those
// answered, in the order the probes were sent (a probe answered twice is in it once).
struct BurstSamples {
    std::string target;  // "a.b.c.d" or "a.b.c.d:port"
    int sent = 0;
    std::vector<double> rttsMs;
};

// A burst summed up. The times are absent when nothing answered; jitter also when fewer than
// two probes did.
struct BurstStats {
    std::string target;
    int sent = 0;
    int received = 0;
    double lossPct = 0;
    std::optional<double> rttMedianMs;
    std::optional<double> rttP95Ms;
    std::optional<double> jitterMs;
};

// One TTL of a trace: who answered its probes (the time-exceeded's sender, or the target's
// echo reply) and how many of them.
struct TraceHop {
    int ttl = 0;
    std::optional<std::string> address;  // none: no probe of this TTL was answered
    int sent = 0;
    int received = 0;
    std::optional<double> rttMedianMs;
    // A destination-unreachable for the target came from this hop: it is the router in front
    // of the target, which it could not deliver to.
    bool unreachable = false;
};

// The hops in TTL order, from 1; reached when the target itself answered (its hop is last).
struct PathTrace {
    std::string target;  // "a.b.c.d"
    bool reached = false;
    std::vector<TraceHop> hops;
};

struct PathObservations {
    // The gateway, dotted; empty when there is none.
    std::string gatewayAddress;
    std::optional<BurstSamples> gateway;
    std::vector<BurstSamples> udp;  // one per target, at most three
    std::vector<PathTrace> traces;  // at most kMaxTracedTargets
    // Every probe made: the bursts' "icmp" and "udp", the traces' "icmp" or "udp" with step
    // "trace".
    std::vector<ProbeRecord> probes;
};

}  // namespace lumidex
