// Limits of the Windows stand-ins that read what others wrote: files of the user's system,
// downloaded bytes, datagrams from other processes. Each is decided here, with its reason.
#pragma once

#include <cstddef>

namespace lumidex::platform {

// /etc/os-release is a few hundred bytes; anything beyond a page is not one.
inline constexpr std::size_t kOsReleaseMaxBytes = 64 * 1024;
// The system name shown in one row of the check list.
inline constexpr std::size_t kOsNameMaxBytes = 256;

// A PE section table holds at most 96 entries (the format's own limit).
inline constexpr std::size_t kPeMaxSections = 96;
// Entries looked at per resource directory level: real files have a few dozen types.
inline constexpr std::size_t kPeMaxDirectoryEntries = 4096;
// VS_VERSIONINFO's length is a 16-bit field, so a version block never exceeds this.
inline constexpr std::size_t kVersionBlockMaxBytes = 0xffff;

// One copied-data message: a limit text and a little more. Longer datagrams are dropped.
inline constexpr std::size_t kCopyDataMaxBytes = 64 * 1024;

// The download's transfer blocks, as the Internet library of the original read them.
inline constexpr std::size_t kDownloadBlockBytes = 16384;
// A download whose server takes longer than this to accept is a failed attempt.
inline constexpr long kDownloadConnectTimeoutSeconds = 30;
// A download that receives nothing for this long is a failed read.
inline constexpr long kDownloadStallSeconds = 60;
// The whole of one download attempt, from the connect to the last byte. The stall bound never
// fires on a server that sends a byte now and then, so without this a dripping download host
// would hold the run for days. The patch program is some tens of kilobytes: even a dial-up
// line (56 kbit/s, some 5 KB/s) carries ten times that in this time, and the three attempts
// against a dripping host end within six minutes. What arrived by then is a failed read.
inline constexpr int kDownloadTotalMs = 120000;

}  // namespace lumidex::platform
