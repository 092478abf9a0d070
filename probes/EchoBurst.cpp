#include "probes/EchoBurst.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <optional>

#include "net/IcmpEcho.h"
#include "net/IcmpReply.h"
#include "platform/ByteReader.h"
#include "platform/NetLimits.h"
#include "platform/SystemError.h"
#include "platform/TickCount.h"

namespace lumidex {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

BurstSamples EchoBurst::Run(const std::string& address, const EchoBurstOptions& options) {
    BurstSamples samples{address, 0, {}};
    const platform::IcmpSocket socket = platform::OpenIcmpSocket(options.socketPolicy);
    in_addr target{};
    if (socket.kind == platform::IcmpSocketKind::None ||
        ::inet_pton(AF_INET, address.c_str(), &target) != 1) {
        return samples;
    }
    const bool raw = socket.kind == platform::IcmpSocketKind::Raw;
    const std::uint16_t identifier = raw ? ProcessEchoIdentifier() : socket.kernelIdentifier;
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_addr = target;

    std::vector<std::uint16_t> sequences;
    std::vector<Clock::time_point> sentAt;
    std::vector<std::optional<double>> rtts;
    int answered = 0;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + options.interval * options.count + options.grace;
    while (!m_cancel.Cancelled()) {
        const int next = static_cast<int>(sequences.size());
        const Clock::time_point nextSend = start + options.interval * next;
        if (next < options.count && Clock::now() >= nextSend) {
            sequences.push_back(NextEchoSequence());
            const EchoRequest request =
                BuildEchoRequest(identifier, sequences.back(), platform::GetTickCount());
            sentAt.push_back(Clock::now());
            rtts.emplace_back();
            // A failed send is a lost request, as on the wire.
            (void)platform::RetryAfterSignal([&] {
                return ::sendto(socket.fd.get(), request.data(), request.size(), 0,
                                reinterpret_cast<const sockaddr*>(&destination),
                                sizeof destination);
            });
            continue;
        }
        if (next == options.count && answered == options.count) {
            break;
        }
        const Clock::time_point until = next < options.count ? nextSend : end;
        const platform::SocketWait wait = m_cancel.Wait(socket.fd.get(), until);
        if (wait == platform::SocketWait::TimedOut) {
            if (next == options.count) {
                break;
            }
            continue;
        }
        if (wait != platform::SocketWait::Readable && wait != platform::SocketWait::ErrorQueue) {
            break;
        }
        std::uint8_t buffer[platform::kIcmpReplyBufferBytes];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got = ::recvfrom(socket.fd.get(), buffer, sizeof buffer, MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
        // A ping socket hands an ICMP error for a request back as a receive error: that
        // request is lost, the burst goes on.
        if (got < 0) {
            continue;
        }
        const std::span<const std::uint8_t> datagram(buffer, static_cast<std::size_t>(got));
        const EchoExpectation expected{raw, target.s_addr, identifier, sequences};
        if (CheckEchoReply(datagram, from.sin_addr.s_addr, expected) != IcmpReplyVerdict::Reply) {
            continue;
        }
        const auto sequence = EchoReplySequence(datagram, raw);
        for (std::size_t i = 0; sequence && i < sequences.size(); ++i) {
            if (sequences[i] == *sequence && !rtts[i]) {
                rtts[i] =
                    std::chrono::duration<double, std::milli>(Clock::now() - sentAt[i]).count();
                ++answered;
            }
        }
    }
    samples.sent = static_cast<int>(sequences.size());
    std::vector<ProbeRecord> records;
    for (const std::optional<double>& rtt : rtts) {
        if (rtt) {
            samples.rttsMs.push_back(*rtt);
        }
        records.push_back({ProbeKind::Icmp, address, rtt ? ProbeOutcome::Ok : ProbeOutcome::Timeout,
                           rtt, "burst"});
    }
    std::lock_guard lock(m_mutex);
    m_probes.insert(m_probes.end(), records.begin(), records.end());
    return samples;
}

std::vector<ProbeRecord> EchoBurst::TakeProbes() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_probes, {});
}

}  // namespace lumidex
