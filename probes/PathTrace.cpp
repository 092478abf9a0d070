#include "probes/PathTrace.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <system_error>
#include <thread>

#include "net/IcmpEcho.h"
#include "net/IcmpReply.h"
#include "platform/ByteReader.h"
#include "platform/IcmpErrorQueue.h"
#include "platform/NetLimits.h"
#include "platform/SystemError.h"
#include "platform/TickCount.h"
#include "platform/UniqueFd.h"

namespace lumidex {
namespace {

using Clock = std::chrono::steady_clock;

// The UDP probe's payload: its bytes do not matter, only that it is small.
constexpr std::uint8_t kUdpProbePayload[] = {'l', 'u', 'm', 'i', 'd', 'e', 'x', 0};

struct Probe {
    int ttl = 0;
    Clock::time_point sentAt;
    std::optional<double> rttMs;
    std::optional<std::array<std::uint8_t, 4>> from;
};

struct Socket {
    platform::UniqueFd fd;
    bool icmp = false;
    bool raw = false;
    std::uint16_t identifier = 0;
};

Socket OpenTraceSocket(const PathTraceOptions& options) {
    if (options.method != TraceMethod::Udp) {
        platform::IcmpSocket icmp = platform::OpenIcmpSocket(options.icmpPolicy);
        if (icmp.kind != platform::IcmpSocketKind::None &&
            platform::EnableErrorQueue(icmp.fd.get())) {
            const bool raw = icmp.kind == platform::IcmpSocketKind::Raw;
            return {std::move(icmp.fd), true, raw,
                    raw ? ProcessEchoIdentifier() : icmp.kernelIdentifier};
        }
        if (options.method == TraceMethod::Icmp) {
            return {};
        }
    }
    platform::UniqueFd udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
    if (!udp || !platform::EnableErrorQueue(udp.get())) {
        return {};
    }
    return {std::move(udp), false, false, 0};
}

std::string Dotted(const std::array<std::uint8_t, 4>& bytes) {
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
           std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    return values.size() % 2 == 1 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// The probes per TTL as hops: up to the target where it answered, else up to one silent hop
// past the last that answered (or past the router that said the target is unreachable).
std::vector<TraceHop> Hops(const std::vector<Probe>& probes, int maxTtl, int reachedTtl,
                           int unreachableTtl, const std::string& target) {
    std::vector<TraceHop> hops;
    int lastAnswered = 0;
    for (int ttl = 1; ttl <= maxTtl; ++ttl) {
        TraceHop hop{ttl, std::nullopt, 0, 0, std::nullopt, ttl == unreachableTtl};
        std::map<std::string, int> senders;
        std::vector<double> rtts;
        for (const Probe& probe : probes) {
            if (probe.ttl != ttl) {
                continue;
            }
            ++hop.sent;
            if (probe.rttMs) {
                ++hop.received;
                rtts.push_back(*probe.rttMs);
                ++senders[probe.from ? Dotted(*probe.from) : target];
            }
        }
        if (!rtts.empty()) {
            hop.rttMedianMs = Median(rtts);
            // A hop of load-balanced paths answers from several routers: name the usual one.
            hop.address =
                std::max_element(senders.begin(), senders.end(), [](const auto& a, const auto& b) {
                    return a.second < b.second;
                })->first;
            lastAnswered = ttl;
        }
        hops.push_back(std::move(hop));
        if (ttl == reachedTtl || ttl == unreachableTtl) {
            return hops;
        }
    }
    hops.resize(std::min<std::size_t>(hops.size(), static_cast<std::size_t>(lastAnswered + 1)));
    return hops;
}

}  // namespace

PathTrace PathTracer::TraceOne(const std::string& target, const PathTraceOptions& options) {
    PathTrace trace{target, false, {}};
    in_addr address{};
    if (::inet_pton(AF_INET, target.c_str(), &address) != 1) {
        return trace;
    }
    const Socket socket = OpenTraceSocket(options);
    if (!socket.fd) {
        return trace;
    }
    std::array<std::uint8_t, 4> targetBytes{};
    std::memcpy(targetBytes.data(), &address.s_addr, targetBytes.size());
    const Clock::time_point start = Clock::now();
    Clock::time_point deadline = start + options.budget;

    std::vector<Probe> probes;
    std::vector<std::uint16_t> sequences;  // ICMP: the sequence of probe i
    for (int round = 0; round < options.probesPerHop; ++round) {
        for (int ttl = 1; ttl <= options.maxTtl; ++ttl) {
            const int hopTtl = ttl;
            if (::setsockopt(socket.fd.get(), IPPROTO_IP, IP_TTL, &hopTtl, sizeof hopTtl) != 0) {
                continue;
            }
            sockaddr_in destination{};
            destination.sin_family = AF_INET;
            destination.sin_addr = address;
            probes.push_back({ttl, Clock::now(), std::nullopt, std::nullopt});
            if (socket.icmp) {
                sequences.push_back(NextEchoSequence());
                const EchoRequest request =
                    BuildEchoRequest(socket.identifier, sequences.back(), platform::GetTickCount());
                (void)::sendto(socket.fd.get(), request.data(), request.size(), 0,
                               reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
            } else {
                destination.sin_port =
                    htons(static_cast<std::uint16_t>(options.udpBasePort + probes.size() - 1));
                (void)::sendto(socket.fd.get(), kUdpProbePayload, sizeof kUdpProbePayload, 0,
                               reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
            }
        }
    }

    int reachedTtl = 0;
    int unreachableTtl = 0;
    const auto probeOf = [&](std::optional<std::uint16_t> key) -> Probe* {
        if (!key) {
            return nullptr;
        }
        for (std::size_t i = 0; i < probes.size(); ++i) {
            const bool match = socket.icmp
                                   ? sequences[i] == *key
                                   : static_cast<std::uint16_t>(options.udpBasePort + i) == *key;
            if (match) {
                return probes[i].rttMs ? nullptr : &probes[i];
            }
        }
        return nullptr;
    };
    const auto answer = [&](Probe& probe, const std::array<std::uint8_t, 4>& from) {
        probe.rttMs =
            std::chrono::duration<double, std::milli>(Clock::now() - probe.sentAt).count();
        probe.from = from;
    };
    const auto reached = [&](Probe& probe, const std::array<std::uint8_t, 4>& from) {
        answer(probe, from);
        if (reachedTtl == 0 || probe.ttl < reachedTtl) {
            reachedTtl = probe.ttl;
        }
        const auto settle = std::max<Clock::duration>(
            kTraceSettle, std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double, std::milli>(2 * *probe.rttMs)));
        deadline = std::min(deadline, Clock::now() + settle);
    };
    const auto allBeforeAnswered = [&] {
        return reachedTtl != 0 &&
               std::all_of(probes.begin(), probes.end(), [&](const Probe& probe) {
                   return probe.ttl > reachedTtl || probe.rttMs;
               });
    };

    while (!allBeforeAnswered()) {
        const platform::SocketWait wait = m_cancel.Wait(socket.fd.get(), deadline);
        if (wait == platform::SocketWait::ErrorQueue) {
            int read = 0;
            platform::IcmpErrorEntry entry;
            while (platform::ReadErrorQueue(socket.fd.get(), entry) ==
                   platform::ErrorQueueRead::Entry) {
                ++read;
                if (!entry.fromIcmp || !entry.offender ||
                    entry.destination.address != targetBytes) {
                    continue;
                }
                Probe* probe =
                    probeOf(socket.icmp ? entry.EchoSequence()
                                        : std::optional<std::uint16_t>(entry.destination.port));
                if (probe == nullptr) {
                    continue;
                }
                if (*entry.offender == targetBytes) {
                    reached(*probe, *entry.offender);  // the target's own unreachable answer
                } else if (entry.type == platform::kIcmpTimeExceeded) {
                    answer(*probe, *entry.offender);
                } else if (entry.type == platform::kIcmpDestinationUnreachable) {
                    answer(*probe, *entry.offender);
                    if (unreachableTtl == 0 || probe->ttl < unreachableTtl) {
                        unreachableTtl = probe->ttl;
                    }
                    // Nothing lies beyond: only the hops before it are still awaited.
                    deadline = std::min(deadline, Clock::now() + kTraceSettle);
                }
            }
            if (read == 0) {
                // Only the socket's pending error: reading it clears it.
                std::uint8_t none[1];
                (void)::recv(socket.fd.get(), none, sizeof none, MSG_DONTWAIT);
            }
            continue;
        }
        if (wait != platform::SocketWait::Readable) {
            break;
        }
        std::uint8_t buffer[platform::kIcmpReplyBufferBytes];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got = ::recvfrom(socket.fd.get(), buffer, sizeof buffer, MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < 0 || !socket.icmp) {
            continue;
        }
        const std::span<const std::uint8_t> datagram(buffer, static_cast<std::size_t>(got));
        const EchoExpectation expected{socket.raw, address.s_addr, socket.identifier, sequences};
        if (CheckEchoReply(datagram, from.sin_addr.s_addr, expected) != IcmpReplyVerdict::Reply) {
            continue;
        }
        if (Probe* probe = probeOf(EchoReplySequence(datagram, socket.raw))) {
            reached(*probe, targetBytes);
        }
    }
    trace.reached = reachedTtl != 0;
    trace.hops = Hops(probes, options.maxTtl, reachedTtl, unreachableTtl, target);
    std::vector<ProbeRecord> records;
    for (const TraceHop& hop : trace.hops) {
        records.push_back({socket.icmp ? ProbeKind::Icmp : ProbeKind::Udp,
                           hop.address.value_or(target),
                           hop.received > 0 ? ProbeOutcome::Ok : ProbeOutcome::Timeout,
                           hop.rttMedianMs, "trace"});
    }
    std::lock_guard lock(m_mutex);
    m_probes.insert(m_probes.end(), records.begin(), records.end());
    return trace;
}

std::vector<PathTrace> PathTracer::Run(const std::vector<std::string>& targets,
                                       const PathTraceOptions& options) {
    const std::size_t count = std::min(targets.size(), kMaxTracedTargets);
    std::vector<PathTrace> traces(count);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < count; ++i) {
        try {
            threads.emplace_back([this, &traces, &targets, &options, i] {
                traces[i] = TraceOne(targets[i], options);
            });
        } catch (const std::system_error&) {
            traces[i] = TraceOne(targets[i], options);  // no thread to be had: traced here
        }
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return traces;
}

std::vector<ProbeRecord> PathTracer::TakeProbes() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_probes, {});
}

}  // namespace lumidex
