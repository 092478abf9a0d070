// The channel list file the lab serves: one channel per channel server, its URL host a ".klv"
// label naming that server first and then its share of the trackers.
#pragma once

#include <string>
#include <vector>

#include "tools/kelvora-lab/KlvLabel.h"

namespace lumidex::lab {

// Channel i names channel server i and every tracker j with j % servers == i, so each server
// and each tracker appears exactly once. Trackers need at least one channel server to be
// published; without one they are left out. A channel with an ordinary (non-address) URL and a
// comment are mixed in, as a published list has them too.
std::string BuildChannelListXml(const std::vector<ServerRecord>& channelServers,
                                const std::vector<ServerRecord>& trackers);

// A body that starts like a channel list but is not well-formed XML.
std::string BuildMalformedChannelList();

}  // namespace lumidex::lab
