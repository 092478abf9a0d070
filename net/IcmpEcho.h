// The ICMP echo probe: does a host answer at the network layer at all? Sends a few echo
// requests and counts the requests that got an answer, each with its round-trip time.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/IcmpSocket.h"

namespace lumidex {

inline constexpr std::size_t kEchoRequestBytes = 45;
inline constexpr std::size_t kEchoPayloadBytes = 32;
inline constexpr std::uint8_t kEchoPayloadFirst = 0x20;
// How long one request waits for its answer.
inline constexpr int kEchoWaitMs = 1000;
// The pause after an answered request, before the next one.
inline constexpr int kEchoPauseMs = 200;

// On the wire, multi-byte fields little-endian:
//   0 type 8 | 1 code 0 | 2-3 checksum | 4-5 identifier | 6-7 sequence | 8 spare (0) |
//   9-12 tick count at sending | 13-44 payload 0x20, 0x21, ... 0x3F
using EchoRequest = std::array<std::uint8_t, kEchoRequestBytes>;

EchoRequest BuildEchoRequest(std::uint16_t identifier, std::uint16_t sequence, std::uint32_t tick);

// The next value of the process-wide sequence counter (1 first), cut to its low 16 bits.
// Every request of every probe takes one, from any thread.
std::uint16_t NextEchoSequence();

// RFC 1071: one's complement of the one's complement sum of the bytes taken as 16-bit words
// in memory order (little-endian loads; an odd last byte is the low byte of a word).
std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes);

// The identifier of this process's requests on a raw socket: the low 16 bits of its id.
std::uint16_t ProcessEchoIdentifier();

struct PingOptions {
    platform::IcmpSocketPolicy socketPolicy = platform::IcmpSocketPolicy::Any;
};

// What became of one request of a probe.
enum class EchoFate {
    Answered,
    TimedOut,     // nothing answered it within kEchoWaitMs
    Unreachable,  // the system reported no route to the host
    Failed,       // never sent (no ICMP socket, unknown host, a failed wait) or a receive error
};

struct EchoTurn {
    EchoFate fate = EchoFate::Failed;
    // From sending the request to the answer that ended its wait; 0 unless answered. A late
    // answer to an earlier request of the probe ends the wait too, so on a lossy path a time
    // can read shorter than that request's real round trip.
    double rttMs = 0;
};

// Sends count echo requests to host (dotted address or name), one at a time, each waiting up
// to kEchoWaitMs for its answer, with a pause of kEchoPauseMs after each answered one, and
// returns how many were answered. 0 also when no ICMP socket can be opened or the host is
// unknown. Blocks the calling thread.
int PingHost(std::string_view host, unsigned count, const PingOptions& options = {});
// The same, with one turn per request in the order sent (always count of them).
std::vector<EchoTurn> PingHostTurns(std::string_view host, unsigned count,
                                    const PingOptions& options = {});
// The answered turns.
int AnsweredTurns(const std::vector<EchoTurn>& turns);

}  // namespace lumidex
