// Every bound the service probes put on what they read from outside (the channel list, its
// address labels, probe replies, the hosts file) or wait for, in one place.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace lumidex {

// Element nesting of a channel list. The channel list itself is three levels deep; anything
// near this is crafted, and each level costs a stack of open elements and nested owned nodes
// that are destroyed recursively.
inline constexpr std::size_t kMaxXmlDepth = 256;

// One server record of a ".klv" label: IPv4 address (4) and port (2).
inline constexpr std::size_t kServerRecordBytes = 6;
// Decoding buffer of one label: 520 bytes, i.e. 832 base32 characters. A longer label decodes
// only as far as the buffer reaches, so at most 86 records per URL.
inline constexpr std::size_t kLabelBufferBytes = 520;
inline constexpr std::size_t kMaxLabelRecords = kLabelBufferBytes / kServerRecordBytes;

// Servers a kept list (trackers, channel servers) holds at most. The lists keep what earlier
// runs learnt, and a list host that names new servers at every request would otherwise grow
// them for as long as the program runs; a real list names some hundreds. When a list's
// servers do not fit beside those kept, the ones from earlier lists are let go first.
inline constexpr std::size_t kMaxKeptServers = 16384;

// One probe reply is read into this many bytes; a longer datagram is refused, as the Windows
// socket layer refuses a datagram that does not fit the buffer.
inline constexpr std::size_t kMaxProbeReplyBytes = 1024;
// How long one probe attempt waits for its reply.
inline constexpr std::chrono::milliseconds kProbeReceiveTimeout{2000};
// Bind attempts of the probe socket before giving up (the first and ten more).
inline constexpr int kProbeBindAttempts = 11;
// Attempts per sampled server.
inline constexpr int kProbeAttemptsPerServer = 2;

// A Windows hosts-file path (MAX_PATH).
inline constexpr std::size_t kMaxHostsPathBytes = 260;
// One hosts-file line is judged by its first bytes only; the address and the first host name
// stand at its start, and ad-blocking hosts files run to many megabytes, so the file is read
// line by line and an absurdly long line does not grow a buffer.
inline constexpr std::size_t kMaxHostsLineBytes = 64 * 1024;

}  // namespace lumidex
