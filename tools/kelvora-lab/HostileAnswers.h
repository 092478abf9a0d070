// The hostile network's channel lists: answers that try to hold a client for ever, fill its
// memory or make it keep what it learns without end. Each is a plain function of the mode and
// the lab's own list, so it can be looked at without sockets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/kelvora-lab/HttpRequestParser.h"
#include "tools/kelvora-lab/HttpResponses.h"
#include "tools/kelvora-lab/KlvLabel.h"
#include "tools/kelvora-lab/LabConfig.h"

namespace lumidex::lab {

// The lab's wide range, 100.64.0.0/10: every address of it is a local address of the
// simulator's namespace (the lab routes it there when a scenario asks for it), so servers
// named from it and the sources of a flood are hosts of the lab. Nothing listens on them.
inline constexpr std::uint32_t kWideNetFirst = 0x64400000;  // 100.64.0.0, host order
inline constexpr std::uint32_t kWideNetSize = 1u << 22;
// The record of the wide range's n-th address (wrapping), with the given port.
ServerRecord WideRecord(std::uint32_t n, std::uint16_t port);

// "huge": exactly this many bytes of well-formed channel list, announced with its length.
inline constexpr std::size_t kHugeListBytes = 64u * 1024u * 1024u;
// "million": channels whose labels hold the most records a label can carry, so the list names
// at least kMillionServers distinct servers of the wide range (whole labels: 1 048 598), and
// nothing of the lab's own.
inline constexpr std::size_t kMillionServers = 1u << 20;
inline constexpr std::size_t kRecordsPerLabel = 86;
// "fresh": each request's list names servers no earlier request named.
inline constexpr std::size_t kFreshChannelServers = 20;
inline constexpr std::size_t kFreshTrackersPerServer = 2;
// "chunk-zeros": leading zeros of the first chunk size.
inline constexpr std::size_t kChunkSizeZeros = 1000000;
// "endless-header", "chunk-extension-bomb": a stream without end, cut by the lab at this many
// bytes so that even a client that reads for ever does not keep the simulator busy for ever.
inline constexpr std::size_t kEndlessCapBytes = 1024u * 1024u * 1024u;
// "flood": replies from other addresses sent before the server's own.
inline constexpr std::size_t kFloodReplies = 2000;

bool IsHostile(ChannelListMode mode);

// The list a hostile mode serves: the lab's own list grown to kHugeListBytes ("huge"), the
// million wide servers ("million"), the servers of request number request ("fresh"), or the
// lab's own list unchanged (the other modes, which break the framing instead).
std::string HostileChannelList(ChannelListMode mode, const std::string& labList,
                               std::size_t request);

// The answer of a hostile mode to a request for the list (body as HostileChannelList gives it).
HttpAnswer AnswerHostileChannelList(const HttpRequest& request, ChannelListMode mode,
                                    const std::string& body);

}  // namespace lumidex::lab
