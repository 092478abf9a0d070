// The UDP probe that trackers and channel servers answer.
//
// Request, 12 bytes, little-endian fields:
//   0 u16 length (12) | 2 u8 signature 0x43 | 3 u8 0 | 4 u8 0 | 5 u8 type 7 |
//   6 4 bytes the server's IPv4 address (network order) | 10 u16 the server's port
// Reply, n bytes: 0 u16 length L | 2 u8 signature 0x43 | 3 two bytes | 5 u8 type 8 | anything.
// A reply is well-formed when n >= 6, n is L, L + 4 or L + 6, and the signature is right.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "service/ServerRecord.h"

namespace lumidex {

inline constexpr std::size_t kProbeRequestBytes = 12;
inline constexpr std::uint8_t kProbeSignature = 0x43;
inline constexpr std::uint8_t kProbeRequestType = 7;
inline constexpr std::uint8_t kProbeReplyType = 8;

std::array<std::uint8_t, kProbeRequestBytes> BuildProbeRequest(const ServerRecord& server);

enum class ProbeReplyKind {
    Malformed,      // too short, length field inconsistent with the size, or wrong signature
    NotProbeReply,  // well-formed, but of another type
    Reply,          // a well-formed probe reply
};

ProbeReplyKind ClassifyProbeReply(std::span<const std::uint8_t> datagram);
std::string_view ProbeReplyKindName(ProbeReplyKind kind);

}  // namespace lumidex
