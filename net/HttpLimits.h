// Every size and time bound of the HTTP GET client, in one place, each with its reason. What
// the server sends is bounded by these before it is stored; a response that goes past one
// ends with what was read so far.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumidex {

// Port of a URL or host text that names none.
inline constexpr std::uint16_t kDefaultPort = 80;
// Each wait for response bytes; a server silent for longer ends the read with what it sent.
inline constexpr int kDefaultReceiveTimeoutMs = 10000;
// The whole of one Get, from the connect to the last byte of the response. The wait above never
// runs out on a server that sends a byte every few seconds, and the channel list announces
// kilobytes: such a server would hold the run for hours. A real list arrives in well under a
// second; what arrived by then is judged as after a failed receive.
inline constexpr int kExchangeDeadlineMs = 30000;

// The request line with the caller's header lines must stay below this; a longer request is
// not sent at all (the requests of this program are a line and a Host field).
inline constexpr std::size_t kRequestBufferBytes = 2048;
// Largest piece handed to one send call.
inline constexpr std::size_t kMaxSendPieceBytes = 4096;

// Status line and header fields of one response, with room for the terminating zero: the
// header section may hold kHeaderBufferBytes - 1 bytes, the blank line included.
inline constexpr std::size_t kHeaderBufferBytes = 8096;
// Longest chunk-size line ("1a2b\r\n" and any extension), its LF included: the 20-byte line
// buffer of the Windows client. A longer line ends the response.
inline constexpr std::size_t kChunkLineBufferBytes = 20;
// Largest body kept in any mode (announced, chunked, until close). The channel list is a few
// kilobytes; 64 MiB is far above any real answer and still safe to hold in memory.
inline constexpr std::size_t kMaxBodyBytes = 64u * 1024u * 1024u;

// Room a body buffer starts with, and the step it grows by.
inline constexpr std::size_t kFirstChunkedBodyBytes = 65536;
inline constexpr std::size_t kFirstUntilCloseBodyBytes = 16384 + 1;
inline constexpr std::size_t kBodyGrowthBytes = 65536;

}  // namespace lumidex
