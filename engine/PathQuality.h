// The path result of a run: the bursts summed up (loss, median and 95th-percentile round trip,
// jitter), where each traced path breaks, and the problems they show. Pure functions of the
// measurements in PathObservations.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Diagnosis.h"
#include "engine/PathObservations.h"

namespace lumidex {

// Loss at or above this share makes a target worth tracing and, to the gateway or the
// service, a problem: a stream hides the odd lost datagram by asking again, but at one in
// twenty the retries themselves are lost often enough for playback to stall.
inline constexpr double kLossWarningPct = 5;

// Sent 0 gives loss 0 and no times: nothing was measured (see Measured).
BurstStats SummarizeBurst(const BurstSamples& samples);
inline bool Measured(const BurstStats& stats) {
    return stats.sent > 0;
}

enum class BreakWhere {
    Local,     // this computer's network: the gateway, or private addresses up to it
    Provider,  // between the gateway and the target's network
    Service,   // at the target's end
};
std::string_view BreakWhereName(BreakWhere where);  // "local", "provider", "service"

struct BreakPoint {
    int ttl = 0;
    std::string address;
    BreakWhere where = BreakWhere::Provider;

    friend bool operator==(const BreakPoint&, const BreakPoint&) = default;
};

// Where trace breaks, or none when it reached its target without loss that persists:
// - not reached: the last hop that answered (silent hops before it only rate-limit their
//   time-exceeded answers); none when no hop answered at all;
// - reached: the first hop from which loss persists on every answering hop to the target;
//   loss at a hop that later hops do not share is that router rate-limiting, not loss.
// others are the run's other traces: a hop that is the last router before another trace's
// reached target of the same /24 is at the service's end too.
std::optional<BreakPoint> FindBreak(const PathTrace& trace, const std::string& gatewayAddress,
                                    const std::vector<PathTrace>& others = {});

struct TraceResult {
    PathTrace trace;
    std::optional<BreakPoint> breaksAt;
};

struct PathResult {
    std::optional<BurstStats> gateway;
    std::vector<BurstStats> udp;
    std::vector<TraceResult> traces;
    std::vector<Problem> problems;
    std::vector<ProbeRecord> probes;
};

PathResult DecidePath(const PathObservations& observations);

// The notes lines of the path result: "线路质量:正常" when it shows no problem, else the worst
// loss and jitter measured and each problem's next step; empty when there is none.
std::string PathNotesLines(const std::optional<PathResult>& result);

}  // namespace lumidex
