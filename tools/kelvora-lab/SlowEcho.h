// A gateway that answers pings slowly: the lab's kernel has no delay queue (netem), so the
// router namespace switches its own echo replies off and this answers instead, late.
#pragma once

#include <string>

namespace lumidex::lab {

// Answers every ICMP echo request addressed to address (dotted IPv4) with its echo reply,
// delayMs after the request came, until SIGTERM or SIGINT. Needs a raw socket (root). Prints
// "answering" on stdout once the socket is open. Returns the exit status.
int SlowEcho(const std::string& address, int delayMs);

}  // namespace lumidex::lab
