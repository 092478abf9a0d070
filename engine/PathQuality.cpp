#include "engine/PathQuality.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>

#include "platform/Ipv4Block.h"

namespace lumidex {
namespace {

// The gateway is one hop on the local network: wired links vary by well under a millisecond
// and a healthy Wi-Fi by a few; 10 ms of variation on that one hop is a weak or crowded
// wireless link or a LAN saturated by another download, which the user can change.
constexpr double kLocalLinkJitterMs = 10;
// A stream's player buffers a few hundred milliseconds of peer data; when round trips to the
// service vary by 30 ms on average, requests for missing pieces come back late often enough
// to show as stutter.
constexpr double kUdpJitterMs = 30;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    return values.size() % 2 == 1 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// Nearest rank: the smallest value that at least 95 % of the values do not exceed.
double Percentile95(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const auto rank =
        static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(values.size())));
    return values[std::max<std::size_t>(rank, 1) - 1];
}

// RFC 1918 and link-local: addresses a provider never routes, so a hop with one is on this
// computer's side unless the target lives in such a range as well.
constexpr platform::Ipv4Block kPrivateBlocks[] = {
    {platform::Quad(10, 0, 0, 0), 8},
    {platform::Quad(172, 16, 0, 0), 12},
    {platform::Quad(192, 168, 0, 0), 16},
    {platform::Quad(169, 254, 0, 0), 16},
};

bool IsPrivate(const std::string& dotted) {
    const auto address = platform::ParseIpv4(dotted);
    return address &&
           std::any_of(std::begin(kPrivateBlocks), std::end(kPrivateBlocks),
                       [&](const platform::Ipv4Block& block) { return block.Contains(*address); });
}

// The target's network is its /24: service hosts sit in a provider's or data centre's
// subnet, and its last router answers from it or from the one before the hosts.
bool SameNetwork(const std::string& a, const std::string& b) {
    const auto first = platform::ParseIpv4(a);
    const auto second = platform::ParseIpv4(b);
    return first && second && platform::Ipv4Block{*second, 24}.Contains(*first);
}

bool Answered(const TraceHop& hop) {
    return hop.received > 0 && hop.address.has_value();
}

bool Lossy(const TraceHop& hop) {
    return hop.received < hop.sent;
}

// The hop of another reached trace right before its target, when that target shares this
// target's network: the router in front of the service hosts.
bool IsLastRouterOfService(const std::string& address, const PathTrace& trace,
                           const std::vector<PathTrace>& others) {
    for (const PathTrace& other : others) {
        if (!other.reached || other.hops.size() < 2 || !SameNetwork(other.target, trace.target)) {
            continue;
        }
        const TraceHop& before = other.hops[other.hops.size() - 2];
        if (before.address == address) {
            return true;
        }
    }
    return false;
}

BreakWhere Locate(const PathTrace& trace, std::size_t index, const std::string& gatewayAddress,
                  const std::vector<PathTrace>& others) {
    const TraceHop& hop = trace.hops[index];
    const std::string& address = *hop.address;
    if (!gatewayAddress.empty() && address == gatewayAddress) {
        return BreakWhere::Local;
    }
    const bool isTarget = trace.reached && index + 1 == trace.hops.size();
    if (isTarget || hop.unreachable || SameNetwork(address, trace.target) ||
        IsLastRouterOfService(address, trace, others)) {
        return BreakWhere::Service;
    }
    if (IsPrivate(trace.target) || !IsPrivate(address)) {
        return BreakWhere::Provider;
    }
    // A private hop is the user's own (a second router, a modem) only while the way to it is
    // private too; behind a public hop it is the provider's inner network.
    for (std::size_t i = 0; i < index; ++i) {
        if (Answered(trace.hops[i]) && !IsPrivate(*trace.hops[i].address)) {
            return BreakWhere::Provider;
        }
    }
    return BreakWhere::Local;
}

BreakPoint At(const PathTrace& trace, std::size_t index, const std::string& gatewayAddress,
              const std::vector<PathTrace>& others) {
    return {trace.hops[index].ttl, *trace.hops[index].address,
            Locate(trace, index, gatewayAddress, others)};
}

// The first answering hop from which every answering hop to the end loses probes.
std::optional<std::size_t> PersistentLossFrom(const std::vector<TraceHop>& hops) {
    std::optional<std::size_t> from;
    for (std::size_t i = 0; i < hops.size(); ++i) {
        if (!Answered(hops[i])) {
            continue;
        }
        if (!Lossy(hops[i])) {
            from.reset();
        } else if (!from) {
            from = i;
        }
    }
    return from;
}

std::string Percent(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f%%", value);
    return text;
}

std::string Milliseconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", value);
    return text;
}

ProblemCode BreakCode(BreakWhere where) {
    switch (where) {
        case BreakWhere::Local:
            return ProblemCode::PathBreaksLocally;
        case BreakWhere::Provider:
            return ProblemCode::PathBreaksAtProvider;
        case BreakWhere::Service:
            return ProblemCode::PathBreaksAtService;
    }
    return ProblemCode::PathBreaksAtProvider;
}

// One problem per code: a second target joins the first one's.
void Join(std::vector<Problem>& problems, ProblemCode code, const std::string& target,
          const std::string& detail) {
    for (Problem& problem : problems) {
        if (problem.code != code) {
            continue;
        }
        if (std::find(problem.targets.begin(), problem.targets.end(), target) ==
            problem.targets.end()) {
            problem.targets.push_back(target);
            problem.detail += "; " + detail;
        }
        return;
    }
    problems.push_back(MakeProblem(code, {target}, detail));
}

void BurstProblems(const BurstStats& stats, ProblemCode lossCode, ProblemCode jitterCode,
                   double jitterMs, std::vector<Problem>& problems) {
    if (!Measured(stats)) {
        return;
    }
    if (stats.lossPct >= kLossWarningPct) {
        Join(problems, lossCode, stats.target, stats.target + " loss " + Percent(stats.lossPct));
    }
    if (stats.jitterMs && *stats.jitterMs >= jitterMs) {
        Join(problems, jitterCode, stats.target,
             stats.target + " jitter " + Milliseconds(*stats.jitterMs));
    }
}

}  // namespace

BurstStats SummarizeBurst(const BurstSamples& samples) {
    BurstStats stats;
    stats.target = samples.target;
    stats.sent = samples.sent;
    // More answers than probes can only be duplicates the probe failed to drop.
    stats.received = std::min(static_cast<int>(samples.rttsMs.size()), samples.sent);
    if (stats.sent == 0) {
        return stats;
    }
    stats.lossPct = 100.0 * (stats.sent - stats.received) / stats.sent;
    if (stats.received == 0) {
        return stats;
    }
    const std::vector<double> rtts(samples.rttsMs.begin(), samples.rttsMs.begin() + stats.received);
    stats.rttMedianMs = Median(rtts);
    stats.rttP95Ms = Percentile95(rtts);
    if (rtts.size() >= 2) {
        double sum = 0;
        for (std::size_t i = 1; i < rtts.size(); ++i) {
            sum += std::abs(rtts[i] - rtts[i - 1]);
        }
        stats.jitterMs = sum / static_cast<double>(rtts.size() - 1);
    }
    return stats;
}

std::string_view BreakWhereName(BreakWhere where) {
    switch (where) {
        case BreakWhere::Local:
            return "local";
        case BreakWhere::Provider:
            return "provider";
        case BreakWhere::Service:
            return "service";
    }
    return "provider";
}

std::optional<BreakPoint> FindBreak(const PathTrace& trace, const std::string& gatewayAddress,
                                    const std::vector<PathTrace>& others) {
    if (trace.hops.empty()) {
        return std::nullopt;
    }
    if (trace.reached) {
        const auto from = PersistentLossFrom(trace.hops);
        if (!from) {
            return std::nullopt;
        }
        return At(trace, *from, gatewayAddress, others);
    }
    for (std::size_t i = trace.hops.size(); i-- > 0;) {
        if (Answered(trace.hops[i])) {
            return At(trace, i, gatewayAddress, others);
        }
    }
    // Not even the first hop answered: a gateway that ignores echoes or keeps silent about
    // what it does not forward looks the same as one that is gone, and the rows tell those
    // apart; the trace has no hop to name.
    return std::nullopt;
}

PathResult DecidePath(const PathObservations& observations) {
    PathResult result;
    if (observations.gateway) {
        result.gateway = SummarizeBurst(*observations.gateway);
        // A gateway that answers none of the echoes ignores them, as many routers do (its row
        // says so): no share of a link's datagrams is lost.
        if (result.gateway->received > 0) {
            BurstProblems(*result.gateway, ProblemCode::LocalLinkLoss, ProblemCode::LocalLinkJitter,
                          kLocalLinkJitterMs, result.problems);
        }
    }
    for (const BurstSamples& samples : observations.udp) {
        result.udp.push_back(SummarizeBurst(samples));
        BurstProblems(result.udp.back(), ProblemCode::UdpPacketLoss, ProblemCode::UdpJitterHigh,
                      kUdpJitterMs, result.problems);
    }
    for (const PathTrace& trace : observations.traces) {
        TraceResult traced{trace,
                           FindBreak(trace, observations.gatewayAddress, observations.traces)};
        if (traced.breaksAt) {
            const BreakPoint& at = *traced.breaksAt;
            const std::string hop = (at.address.empty() ? std::string("?") : at.address) +
                                    " (TTL " + std::to_string(at.ttl) + ")";
            Join(result.problems, BreakCode(at.where), hop, "to " + trace.target);
        }
        result.traces.push_back(std::move(traced));
    }
    result.probes = observations.probes;
    return result;
}

}  // namespace lumidex

namespace lumidex {

std::string PathNotesLines(const std::optional<PathResult>& result) {
    if (!result) {
        return {};
    }
    if (result->problems.empty()) {
        return "\r\n线路质量:正常";
    }
    // The worst burst speaks for the path: a stream stalls on its worst link.
    double lossPct = 0;
    double jitterMs = 0;
    auto take = [&](const BurstStats& stats) {
        lossPct = std::max(lossPct, stats.lossPct);
        jitterMs = std::max(jitterMs, stats.jitterMs.value_or(0));
    };
    if (result->gateway) {
        take(*result->gateway);
    }
    std::for_each(result->udp.begin(), result->udp.end(), take);
    char line[96];
    std::snprintf(line, sizeof line, "\r\n线路质量:丢包%.0f%%,抖动%.0fms", lossPct, jitterMs);
    std::string lines = line;
    for (const std::string& advice : AdviceLines(result->problems)) {
        lines += "\r\n" + advice;
    }
    return lines;
}

}  // namespace lumidex
