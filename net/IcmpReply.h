// Whether a datagram received on an ICMP socket answers the echo request that was sent: an
// echo reply (type 0) from the host that was pinged, carrying the identifier that was sent.
// Anything else a raw socket sees (our own request looped back, errors, other hosts' and other
// programs' replies) is not an answer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace lumidex {

enum class IcmpReplyVerdict {
    Reply,            // the answer looked for
    TooShort,         // cut off before the ICMP header's identifier and sequence
    NotIpv4,          // raw socket: the IP version is not 4
    BadHeaderLength,  // raw socket: header length below 20 bytes or beyond the datagram
    NotIcmp,          // raw socket: the IP protocol is not ICMP
    NotEchoReply,     // type other than 0, or code other than 0
    WrongSource,      // from another host
    WrongIdentifier,  // another socket's or program's echo
    WrongSequence,    // an answer to a request this probe did not send (another probe's)
};

const char* DescribeIcmpReply(IcmpReplyVerdict verdict);

struct EchoExpectation {
    bool ipHeader = true;          // a raw socket delivers the IP header in front
    std::uint32_t source = 0;      // network byte order
    std::uint16_t identifier = 0;  // the two identifier bytes read little-endian
    // The sequences (read little-endian) of the requests sent so far; empty takes any. Probes
    // of one process side by side share the identifier, and a raw socket sees every answer.
    std::span<const std::uint16_t> sequences;
};

// from: the sender address the socket reported, network byte order.
IcmpReplyVerdict CheckEchoReply(std::span<const std::uint8_t> datagram, std::uint32_t from,
                                const EchoExpectation& expected);

// The sequence (read little-endian) of an echo reply CheckEchoReply accepted; ipHeader as there.
std::optional<std::uint16_t> EchoReplySequence(std::span<const std::uint8_t> datagram,
                                               bool ipHeader);

}  // namespace lumidex
