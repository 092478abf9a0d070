// What loopback can show of the hop finder: the error-queue reader on a real ICMP error (port
// unreachable from 127.0.0.1), and that a target nearer than two hops yields no hop.
#include "probes/HopProbe.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "platform/SocketErrorQueue.h"
#include "platform/UniqueFd.h"
#include "support/LoopbackServer.h"

namespace lumidex {
namespace {

TEST(HopProbeTest, ErrorQueueNamesTheOffenderAndTheDestination) {
    std::uint16_t closedPort = 0;
    testing::LoopbackListener(-1, closedPort);  // free a moment ago; nobody listens on UDP
    platform::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(fd);
    ASSERT_TRUE(platform::EnableErrorQueue(fd.get()));
    EXPECT_FALSE(platform::ReadErrorQueueEntry(fd.get()).has_value());
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(closedPort);
    ASSERT_EQ(::sendto(fd.get(), "x", 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 1);
    pollfd waiting{fd.get(), 0, 0};
    ASSERT_EQ(::poll(&waiting, 1, 2000), 1);
    const auto entry = platform::ReadErrorQueueEntry(fd.get());
    ASSERT_TRUE(entry.has_value());
    EXPECT_TRUE(entry->fromIcmp);
    EXPECT_EQ(entry->icmpType, 3);  // destination unreachable
    EXPECT_EQ(entry->icmpCode, 3);  // port unreachable
    EXPECT_EQ(entry->error, ECONNREFUSED);
    EXPECT_EQ(entry->offender, (std::array<std::uint8_t, 4>{127, 0, 0, 1}));
    EXPECT_EQ(entry->destination, (platform::Ipv4Endpoint{{127, 0, 0, 1}, closedPort}));
    EXPECT_FALSE(platform::ReadErrorQueueEntry(fd.get()).has_value());
}

TEST(HopProbeTest, NoHopWithoutATimeExceededAnswer) {
    for (const std::string target : {"127.0.0.1", "", "not an address", "::1"}) {
        EXPECT_EQ(HopPastGateway(target), "") << target;
    }
}

}  // namespace
}  // namespace lumidex
