// The port control protocol's ANNOUNCE exchange (RFC 6887), the one message that asks a router
// whether it speaks the protocol without changing anything on it: the request we send and a
// bounded reader of the answers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace lumidex {

// RFC 6887 19.1: the server listens on this port of the default gateway.
inline constexpr std::uint16_t kPcpServerPort = 5351;
inline constexpr std::uint8_t kPcpVersion = 2;
inline constexpr std::uint8_t kPcpOpcodeAnnounce = 0;
// RFC 6887 7: a request or answer header is 24 bytes.
inline constexpr std::size_t kPcpHeaderBytes = 24;
// RFC 6887 7: messages are at most 1100 bytes; a longer datagram is not PCP.
inline constexpr std::size_t kPcpMaxMessageBytes = 1100;

// RFC 6887 7.4 result codes this tool tells apart.
inline constexpr std::uint8_t kPcpSuccess = 0;
inline constexpr std::uint8_t kPcpUnsuppVersion = 1;
inline constexpr std::uint8_t kPcpAddressMismatch = 12;

using PcpAnnounceRequest = std::array<std::uint8_t, kPcpHeaderBytes>;

// RFC 6887 7.1 and 14.1: version 2, opcode ANNOUNCE, lifetime 0, the client's IPv4 address as
// an IPv4-mapped IPv6 address. client: a.b.c.d in network order.
PcpAnnounceRequest BuildPcpAnnounce(const std::array<std::uint8_t, 4>& client);

enum class PcpAnswerError {
    None,
    TooShort,        // under the 24-byte header
    TooLong,         // over kPcpMaxMessageBytes
    NotMultipleOf4,  // RFC 6887 7: lengths are multiples of 4
    OldVersion,      // version 0: the router speaks NAT-PMP only (RFC 6887 9)
    Version,         // any other version than 2
    NotAnswer,       // the R bit is clear: a request, perhaps our own looped back
    Opcode,          // an answer to another opcode than ANNOUNCE
};

const char* DescribePcpAnswerError(PcpAnswerError error);

struct PcpAnswer {
    PcpAnswerError error = PcpAnswerError::None;
    // The rest is meaningful only without an error, except resultCode after OldVersion
    // (NAT-PMP's own result, the low byte of its 16-bit field: 1 for an unsupported version).
    std::uint8_t version = 0;
    std::uint8_t opcode = 0;
    std::uint8_t resultCode = 0;
    std::uint32_t lifetime = 0;
    std::uint32_t epoch = 0;
};

// RFC 6887 7.2 answer header:
//   0 version | 1 R(0x80) + opcode | 2 reserved | 3 result code | 4-7 lifetime |
//   8-11 epoch time | 12-23 reserved
// followed by opcode data (none for ANNOUNCE) and options, which are not read.
PcpAnswer ParsePcpAnswer(std::span<const std::uint8_t> datagram);

}  // namespace lumidex
