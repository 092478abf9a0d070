#include "service/UdpBurst.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <string>

#include "service/ProbeDatagram.h"
#include "service/ServiceLimits.h"

namespace lumidex {
namespace {

using Clock = std::chrono::steady_clock;

// A network's duplicate of an answer already counted would pass for the answer to a later
// request with a round trip one interval (or more) shorter. Real round trips do not fall
// that far below the shortest seen, so an answer whose round trip would lie more than half an
// interval below it is taken for such a duplicate.
constexpr double kDuplicateMarginIntervals = 0.5;

struct Target {
    ServerRecord server;
    std::vector<Clock::time_point> sentAt;
    std::vector<std::optional<double>> rtts;
    int answered = 0;

    double ShortestMs() const {
        double shortest = 0;
        for (const auto& rtt : rtts) {
            if (rtt && (shortest == 0 || *rtt < shortest)) {
                shortest = *rtt;
            }
        }
        return shortest;
    }
    std::optional<double> MedianMs() const {
        std::vector<double> values;
        for (const auto& rtt : rtts) {
            if (rtt) {
                values.push_back(*rtt);
            }
        }
        if (values.empty()) {
            return std::nullopt;
        }
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        return values[values.size() / 2];
    }

    void Answer(Clock::time_point at, double intervalMs) {
        const double shortest = ShortestMs();
        const std::optional<double> median = MedianMs();
        std::optional<std::size_t> best;
        double bestDistance = 0;
        for (std::size_t i = 0; i < sentAt.size(); ++i) {
            if (rtts[i] || sentAt[i] > at) {
                continue;
            }
            const double rtt = std::chrono::duration<double, std::milli>(at - sentAt[i]).count();
            if (shortest > 0 && rtt < shortest - kDuplicateMarginIntervals * intervalMs) {
                continue;
            }
            if (!median) {
                best = i;
                break;
            }
            const double distance = std::abs(rtt - *median);
            if (!best || distance < bestDistance) {
                best = i;
                bestDistance = distance;
            }
        }
        if (best) {
            rtts[*best] = std::chrono::duration<double, std::milli>(at - sentAt[*best]).count();
            ++answered;
        }
    }
};

// The target a reply is from: its address and port, else its address alone, since the row's
// probe takes a reply from the server's address on any port and the two must agree on which
// servers answer.
Target* SenderOf(std::vector<Target>& targets, const platform::Ipv4Endpoint& sender) {
    for (Target& target : targets) {
        if (sender == platform::Ipv4Endpoint{target.server.address.bytes, target.server.port}) {
            return &target;
        }
    }
    for (Target& target : targets) {
        if (sender.address == target.server.address.bytes) {
            return &target;
        }
    }
    return nullptr;
}

}  // namespace

std::vector<BurstSamples> UdpBurst::Run(const std::vector<ServerRecord>& servers,
                                        const UdpBurstOptions& options) {
    std::vector<Target> targets;
    for (std::size_t i = 0; i < servers.size() && i < kMaxBurstTargets; ++i) {
        targets.push_back({servers[i], {}, {}, 0});
    }
    const auto label = [](const ServerRecord& server) {
        return server.address.Dotted() + ":" + std::to_string(server.port);
    };
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled || m_socket.Open({{0, 0, 0, 0}, 0})) {
            m_socket.Close();
            std::vector<BurstSamples> none;
            for (const Target& target : targets) {
                none.push_back({label(target.server), 0, {}});
            }
            return none;
        }
    }
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + options.interval * options.count + options.grace;
    int sent = 0;
    const auto allAnswered = [&] {
        return std::all_of(targets.begin(), targets.end(),
                           [&](const Target& target) { return target.answered == options.count; });
    };
    while (true) {
        {
            std::lock_guard lock(m_mutex);
            if (m_cancelled) {
                break;
            }
        }
        const Clock::time_point nextSend = start + options.interval * sent;
        if (sent < options.count && Clock::now() >= nextSend) {
            for (Target& target : targets) {
                target.sentAt.push_back(Clock::now());
                target.rtts.emplace_back();
                // A failed send is a lost request, as on the wire.
                (void)m_socket.SendTo(BuildProbeRequest(target.server),
                                      {target.server.address.bytes, target.server.port});
            }
            ++sent;
            continue;
        }
        if (sent == options.count && allAnswered()) {
            break;
        }
        const Clock::time_point until = sent < options.count ? nextSend : end;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0) {
            if (sent == options.count) {
                break;
            }
            continue;
        }
        // 0 would mean no time-out at all.
        (void)m_socket.SetReceiveTimeout(std::max(left, std::chrono::milliseconds(1)));
        std::array<std::uint8_t, kMaxProbeReplyBytes> buffer{};
        const auto datagram = m_socket.ReceiveFrom(buffer);
        const Clock::time_point at = Clock::now();
        if (!datagram || datagram->size > buffer.size() ||
            ClassifyProbeReply({buffer.data(), datagram->size}) != ProbeReplyKind::Reply) {
            continue;
        }
        if (Target* target = SenderOf(targets, datagram->sender)) {
            target->Answer(at, std::chrono::duration<double, std::milli>(options.interval).count());
        }
    }
    std::vector<BurstSamples> results;
    std::vector<ProbeRecord> records;
    for (const Target& target : targets) {
        BurstSamples samples{label(target.server), static_cast<int>(target.sentAt.size()), {}};
        for (const auto& rtt : target.rtts) {
            if (rtt) {
                samples.rttsMs.push_back(*rtt);
            }
            records.push_back({ProbeKind::Udp, samples.target,
                               rtt ? ProbeOutcome::Ok : ProbeOutcome::Timeout, rtt, "burst"});
        }
        results.push_back(std::move(samples));
    }
    std::lock_guard lock(m_mutex);
    m_socket.Close();
    m_probes.insert(m_probes.end(), records.begin(), records.end());
    return results;
}

void UdpBurst::Cancel() {
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
    if (m_socket.IsOpen()) {
        m_socket.Shutdown();
    }
}

std::vector<ProbeRecord> UdpBurst::TakeProbes() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_probes, {});
}

}  // namespace lumidex
