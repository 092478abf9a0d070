// One entry of an IPv4 socket's error queue (IP_RECVERR): what an ICMP error said about a
// datagram we sent. The unprivileged ping socket delivers a time-exceeded or unreachable
// answer only this way, so a hop finder or a path tracer reads it here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "platform/UdpSocket.h"

namespace lumidex::platform {

struct ErrorQueueEntry {
    // The ICMP message came from the network (SO_EE_ORIGIN_ICMP), not from this host's stack
    // (a local error such as a too-large datagram has no offender).
    bool fromIcmp = false;
    // The router or host that sent the ICMP error; all zero when the kernel named none.
    std::array<std::uint8_t, 4> offender{};
    std::uint8_t icmpType = 0;
    std::uint8_t icmpCode = 0;
    // The errno the error stands for (EHOSTUNREACH, and so on).
    int error = 0;
    // Where the datagram that caused it was going.
    Ipv4Endpoint destination;
};

// Turns IP_RECVERR on for fd, so that ICMP errors are queued instead of only failing a call.
bool EnableErrorQueue(int fd);

// Takes one entry off fd's error queue without waiting; none when the queue is empty or the
// entry is not an IPv4 one.
std::optional<ErrorQueueEntry> ReadErrorQueueEntry(int fd);

}  // namespace lumidex::platform
