// Bursts of probe datagrams to up to three trackers or channel servers side by side, from one
// socket: kBurstProbes to each, kBurstInterval apart. Only the server's own address answers for
// it (from its port, or another as the row's probe allows); a well-formed probe reply from
// anywhere else is not counted.
//
// A probe reply carries nothing of its request, so an answer is matched to one of the
// server's unanswered requests sent before it came: the one whose round trip would lie
// nearest the server's median so far (the first answer takes the oldest). A request answered
// once is never answered again, so a duplicate cannot count twice, and one whose round trip
// would lie more than half an interval below the shortest seen is a duplicate of an earlier
// answer, not an answer. Without a number in the reply this can still be wrong when round
// trips exceed the interval and answers are lost or reordered: the count stays right, a
// round trip may be credited to a neighbouring request.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <vector>

#include "engine/Diagnosis.h"
#include "engine/PathObservations.h"
#include "platform/UdpSocket.h"
#include "service/ServerRecord.h"

namespace lumidex {

// Side by side they stay within one second while still loading the path as a stream would.
inline constexpr std::size_t kMaxBurstTargets = 3;

struct UdpBurstOptions {
    int count = kBurstProbes;
    std::chrono::milliseconds interval = kBurstInterval;
    std::chrono::milliseconds grace = kBurstGrace;
};

class UdpBurst {
public:
    // One result per target of the first kMaxBurstTargets, targets "a.b.c.d:port"; sent 0 for
    // all when no socket could be opened. Blocks for count * interval + grace at most.
    std::vector<BurstSamples> Run(const std::vector<ServerRecord>& targets,
                                  const UdpBurstOptions& options = {});
    // From another thread: Run returns at once with what it has.
    void Cancel();
    // One record per request: "udp", step "burst".
    std::vector<ProbeRecord> TakeProbes();

private:
    std::mutex m_mutex;  // m_probes, m_cancelled, the socket's shutdown
    bool m_cancelled = false;
    platform::UdpSocket m_socket;
    std::vector<ProbeRecord> m_probes;
};

}  // namespace lumidex
