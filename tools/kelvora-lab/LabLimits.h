// Every bound the lab simulator puts on what it reads from a client or holds for it, in one
// place. A client that goes past one gets a defined answer (400, a closed connection, a
// truncated stored request) and a log line, never an unbounded buffer.
#pragma once

#include <chrono>
#include <cstddef>

namespace lumidex::lab {

// Request line plus header fields of one HTTP request.
inline constexpr std::size_t kMaxRequestHeadBytes = 16 * 1024;
// Longest single header line (and the request line).
inline constexpr std::size_t kMaxHeaderLineBytes = 4096;
// Number of header fields accepted in one request.
inline constexpr std::size_t kMaxHeaderFields = 100;
// Body of a request to the channel-list or download host (they expect none).
inline constexpr std::size_t kMaxPlainBodyBytes = 64 * 1024;
// Everything one report connection may send; the report text is cut by the sender at about
// 66 KB, so 1 MiB leaves room for the escaped form and the contact block.
inline constexpr std::size_t kMaxReportBytes = 1024 * 1024;
// Hex digits of one chunk-size line.
inline constexpr std::size_t kMaxChunkSizeDigits = 8;
// One UDP datagram read by a probe responder.
inline constexpr std::size_t kMaxDatagramBytes = 2048;
// Connections served at once; further ones are accepted and closed at once.
inline constexpr std::size_t kMaxConnections = 256;
// Listening sockets and UDP responders in one configuration.
inline constexpr std::size_t kMaxServices = 512;
// Late UDP replies waiting to be sent.
inline constexpr std::size_t kMaxPendingReplies = 1024;

// A connection that sends nothing for this long is closed.
inline constexpr std::chrono::milliseconds kIdleTimeout{15000};
// How long "never answer" and "never close" hold a connection before giving up on it, so a
// forgotten client cannot pin the simulator forever.
inline constexpr std::chrono::milliseconds kHoldTimeout{120000};
// After a report request is complete, bytes that still trickle in (the sender's closing CR LF)
// are collected for this long before the answer goes out.
inline constexpr std::chrono::milliseconds kReportGrace{200};
// After the answer, the report connection waits this long for the peer to close.
inline constexpr std::chrono::milliseconds kLingerTimeout{5000};

}  // namespace lumidex::lab
