// A burst of ICMP echoes to one address (the gateway): kBurstProbes requests kBurstInterval
// apart on one socket, each matched to its answer by sequence, so a late answer counts for its
// own request and a duplicate counts once.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "engine/Diagnosis.h"
#include "engine/PathObservations.h"
#include "platform/CancelSignal.h"
#include "platform/IcmpSocket.h"

namespace lumidex {

struct EchoBurstOptions {
    int count = kBurstProbes;
    std::chrono::milliseconds interval = kBurstInterval;
    std::chrono::milliseconds grace = kBurstGrace;
    platform::IcmpSocketPolicy socketPolicy = platform::IcmpSocketPolicy::Any;
};

class EchoBurst {
public:
    // address dotted. Blocks for count * interval + grace at most (sooner when every request
    // was answered, or on Cancel); sent stays 0 when no ICMP socket could be had.
    BurstSamples Run(const std::string& address, const EchoBurstOptions& options = {});
    // From another thread: Run returns at once with what it has.
    void Cancel() { m_cancel.Cancel(); }
    // One record per request: "icmp", step "burst".
    std::vector<ProbeRecord> TakeProbes();

private:
    platform::CancelSignal m_cancel;
    std::mutex m_mutex;
    std::vector<ProbeRecord> m_probes;
};

}  // namespace lumidex
