// Every bound of the report submission in one place, each with its reason.
#pragma once

#include <cstddef>

namespace lumidex {

// UrlEscape collects its output in a work buffer of this size...
inline constexpr std::size_t kEscapeBufferBytes = 100000;
// ...and appends a byte's piece only while the output is at most this long (two thirds of
// the buffer, so the three bytes of one more escape always fit). A longer text is cut here.
inline constexpr std::size_t kEscapeCutBytes = 66666;
// The host name buffer handed to gethostname.
inline constexpr std::size_t kHostNameBytes = 260;
// The request goes out in pieces of at most this many bytes.
inline constexpr std::size_t kSendPieceBytes = 4096;
// The response buffer; one byte stays free for the terminator, so at most 1999 are read.
inline constexpr std::size_t kResponseBufferBytes = 2000;
inline constexpr std::size_t kResponseMaxBytes = kResponseBufferBytes - 1;
// A report server that accepts and then never answers, never closes or drips its answer must
// not freeze the window: the connect is bounded, and so is the answer, each wait and all of it
// together. When the answer's bound passes, the reading ends as after a failed receive and
// the status is judged on what arrived, so "200 OK" sent at once counts even if the server
// never closes.
inline constexpr int kConnectTimeoutMs = 10000;
inline constexpr int kReceiveTimeoutMs = 10000;
// A server that accepts but never reads would block a large send the same way.
inline constexpr int kSendTimeoutMs = 10000;

}  // namespace lumidex
