#include "probes/HopProbe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "net/IcmpEcho.h"
#include "platform/Deadline.h"
#include "platform/IcmpErrorQueue.h"
#include "platform/IcmpSocket.h"
#include "platform/TickCount.h"

namespace lumidex {
namespace {

std::string Dotted(const std::array<std::uint8_t, 4>& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, address.data(), text, sizeof text);
    return text;
}

// The time-exceeded entry for our echo to target among what the error queue holds now; the
// queue also collects unreachable answers, which say nothing about the hop.
std::string TakeHop(int fd, const std::array<std::uint8_t, 4>& target) {
    platform::IcmpErrorEntry entry;
    while (platform::ReadErrorQueue(fd, entry) == platform::ErrorQueueRead::Entry) {
        if (entry.fromIcmp && entry.type == platform::kIcmpTimeExceeded &&
            entry.destination.address == target && entry.offender &&
            *entry.offender != std::array<std::uint8_t, 4>{}) {
            return Dotted(*entry.offender);
        }
    }
    return {};
}

}  // namespace

std::string HopPastGateway(const std::string& target, std::chrono::milliseconds timeout) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, target.c_str(), &parsed) != 1) {
        return {};
    }
    std::array<std::uint8_t, 4> targetBytes{};
    std::memcpy(targetBytes.data(), &parsed, 4);

    // The ping socket first: it needs no privilege, and the kernel hands it the time-exceeded
    // answer for its own echo only, on the error queue. A raw socket queues it there too once
    // IP_RECVERR is on, so both kinds are read the same way.
    platform::IcmpSocket socket =
        platform::OpenIcmpSocket(platform::IcmpSocketPolicy::DatagramOnly);
    if (!socket.fd) {
        socket = platform::OpenIcmpSocket(platform::IcmpSocketPolicy::RawOnly);
    }
    if (!socket.fd) {
        return {};
    }
    const int fd = socket.fd.get();
    const int ttl = kHopTtl;
    if (::setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0 ||
        !platform::EnableErrorQueue(fd)) {
        return {};
    }
    const bool raw = socket.kind == platform::IcmpSocketKind::Raw;
    const std::uint16_t identifier = raw ? ProcessEchoIdentifier() : socket.kernelIdentifier;
    const EchoRequest request =
        BuildEchoRequest(identifier, NextEchoSequence(), platform::GetTickCount());
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = parsed;
    if (::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to) < 0) {
        return {};
    }
    const platform::Deadline deadline(static_cast<int>(timeout.count()));
    std::uint8_t discard[512];
    while (!deadline.Passed()) {
        pollfd waiting{fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, deadline.WaitMs(0));
        if (ready < 0 && errno != EINTR) {
            return {};
        }
        if (ready <= 0) {
            continue;
        }
        if ((waiting.revents & POLLERR) != 0) {
            if (std::string hop = TakeHop(fd, targetBytes); !hop.empty()) {
                return hop;
            }
        }
        // On a ping socket only our echo's reply arrives here: the target is at most two hops
        // away, so no hop lies past the gateway. A raw socket sees everyone's ICMP, which
        // tells nothing but must not keep poll returning.
        if ((waiting.revents & POLLIN) != 0 &&
            ::recv(fd, discard, sizeof discard, MSG_DONTWAIT) >= 0 && !raw) {
            return {};
        }
    }
    return {};
}

}  // namespace lumidex
