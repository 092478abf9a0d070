// The ICMP errors the kernel queues for a socket with IP_RECVERR: time-exceeded from a router
// on the way, destination-unreachable, each with the router that sent it and the start of the
// datagram it answers. An unprivileged ICMP socket and a plain UDP socket both get them, so a
// trace needs no raw socket.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/UdpSocket.h"

namespace lumidex::platform {

// The start of the answered datagram kept: an ICMP echo's header and tick count, a UDP
// probe's first bytes. The rest is of no use and is cut.
inline constexpr std::size_t kErrorPayloadBytes = 16;

inline constexpr std::uint8_t kIcmpDestinationUnreachable = 3;
inline constexpr std::uint8_t kIcmpTimeExceeded = 11;

struct IcmpErrorEntry {
    // The sender of the ICMP error; none when the error arose on this computer.
    std::optional<std::array<std::uint8_t, 4>> offender;
    bool fromIcmp = false;  // false: a local error (a too-large datagram, say)
    std::uint8_t type = 0;
    std::uint8_t code = 0;
    int error = 0;  // the errno the kernel gives it
    // Where the answered datagram was sent (a UDP datagram's port; 0 for ICMP).
    Ipv4Endpoint destination;
    std::array<std::uint8_t, kErrorPayloadBytes> payload{};
    std::size_t payloadSize = 0;

    // The sequence (read little-endian, as our echo requests write it) when the answered
    // datagram was an ICMP echo request.
    std::optional<std::uint16_t> EchoSequence() const;
};

// Turns the error queue on; false when the socket refuses.
bool EnableErrorQueue(int fd);

enum class ErrorQueueRead {
    Entry,
    Empty,
    Failed,
};

// Reads one entry without waiting.
ErrorQueueRead ReadErrorQueue(int fd, IcmpErrorEntry& entry);

}  // namespace lumidex::platform
