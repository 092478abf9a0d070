// The UDP probe that trackers and channel servers answer. Request, 12 bytes: length 12 (u16
// little-endian), signature 0x43, two reserved zero bytes, type 7, the server's IPv4 address
// (network order) and its port (u16 little-endian). Reply: length L, signature 0x43, two bytes,
// type 8, then anything, the whole datagram L, L + 4 or L + 6 bytes long.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lumidex::lab {

inline constexpr std::uint8_t kProbeSignature = 0x43;
inline constexpr std::uint8_t kProbeRequestType = 7;
inline constexpr std::uint8_t kProbeReplyType = 8;
inline constexpr std::size_t kProbeRequestSize = 12;

struct ProbeRequest {
    std::uint8_t address[4] = {0, 0, 0, 0};
    std::uint16_t port = 0;
};

// Reads a datagram through a bounds-checked reader; false with the reason when it is not a
// well-formed probe request.
bool ParseProbeRequest(std::span<const std::uint8_t> datagram, ProbeRequest& out,
                       std::string& reason);

enum class ReplyKind {
    Valid,      // a well-formed type-8 reply
    Malformed,  // signature and type right, length field inconsistent with the size
    WrongType,  // well-formed, but type 9
};

// The reply to a request: 16 bytes echoing the server's address and port.
std::vector<std::uint8_t> BuildProbeReply(const ProbeRequest& request, ReplyKind kind);

// Lower-case hex of the bytes, for log lines.
std::string HexBytes(std::span<const std::uint8_t> bytes);

}  // namespace lumidex::lab
