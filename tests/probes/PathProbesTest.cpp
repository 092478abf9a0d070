// The path probes against loopback: the error-queue reader with a real ICMP error, the echo
// burst, the trace over ICMP and over UDP, and cancelling from another thread.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "platform/CancelSignal.h"
#include "platform/IcmpErrorQueue.h"
#include "platform/UdpSocket.h"
#include "probes/EchoBurst.h"
#include "probes/PathTrace.h"

namespace lumidex {
namespace {

using namespace std::chrono_literals;

// A loopback port nobody listens on: bound once, then closed.
std::uint16_t UnusedPort() {
    platform::UdpSocket socket;
    if (socket.Open({{127, 0, 0, 1}, 0})) {
        return 0;
    }
    return socket.LocalEndpoint()->port;
}

TEST(IcmpErrorQueue, AnUnreachablePortQueuesTheRoutersAnswer) {
    platform::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
    ASSERT_TRUE(fd);
    ASSERT_TRUE(platform::EnableErrorQueue(fd.get()));
    platform::IcmpErrorEntry entry;
    EXPECT_EQ(platform::ReadErrorQueue(fd.get(), entry), platform::ErrorQueueRead::Empty);

    const std::uint16_t port = UnusedPort();
    ASSERT_NE(port, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    const std::uint8_t payload[] = {8, 0, 0, 0, 0, 0, 0x34, 0x12};
    ASSERT_EQ(
        ::sendto(fd.get(), payload, sizeof payload, 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
        static_cast<ssize_t>(sizeof payload));
    platform::CancelSignal never;
    ASSERT_EQ(never.Wait(fd.get(), std::chrono::steady_clock::now() + 2s),
              platform::SocketWait::ErrorQueue);
    ASSERT_EQ(platform::ReadErrorQueue(fd.get(), entry), platform::ErrorQueueRead::Entry);
    EXPECT_TRUE(entry.fromIcmp);
    EXPECT_EQ(entry.type, platform::kIcmpDestinationUnreachable);
    EXPECT_EQ(entry.code, 3);  // port unreachable
    EXPECT_EQ(entry.error, ECONNREFUSED);
    EXPECT_EQ(entry.offender, (std::array<std::uint8_t, 4>{127, 0, 0, 1}));
    EXPECT_EQ(entry.destination, (platform::Ipv4Endpoint{{127, 0, 0, 1}, port}));
    // The start of what was sent comes back, and reads as an echo's sequence.
    EXPECT_EQ(entry.payloadSize, sizeof payload);
    EXPECT_EQ(entry.EchoSequence(), 0x1234);
    EXPECT_EQ(platform::ReadErrorQueue(fd.get(), entry), platform::ErrorQueueRead::Empty);
}

TEST(EchoBurst, EveryEchoToLoopbackIsAnsweredOnce) {
    EchoBurst burst;
    const BurstSamples samples = burst.Run("127.0.0.1", {20, 5ms, 500ms});
    if (samples.sent == 0) {
        GTEST_SKIP() << "no ICMP socket here";
    }
    EXPECT_EQ(samples.sent, 20);
    EXPECT_EQ(samples.rttsMs.size(), 20u);
    EXPECT_EQ(burst.TakeProbes().size(), 20u);
    EXPECT_TRUE(burst.TakeProbes().empty());
    // Not an address: nothing is sent.
    EXPECT_EQ(burst.Run("gateway.invalid").sent, 0);
}

TEST(PathTrace, LoopbackIsReachedAtTheFirstHop) {
    for (const TraceMethod method : {TraceMethod::Icmp, TraceMethod::Udp}) {
        PathTracer tracer;
        PathTraceOptions options;
        options.method = method;
        options.maxTtl = 4;
        const std::vector<PathTrace> traces = tracer.Run({"127.0.0.1", "not an address"}, options);
        ASSERT_EQ(traces.size(), 2u);
        EXPECT_TRUE(traces[1].hops.empty());
        if (traces[0].hops.empty()) {
            EXPECT_EQ(method, TraceMethod::Icmp) << "UDP needs no privilege";
            continue;
        }
        EXPECT_TRUE(traces[0].reached) << static_cast<int>(method);
        ASSERT_EQ(traces[0].hops.size(), 1u);
        EXPECT_EQ(traces[0].hops[0].address, "127.0.0.1");
        EXPECT_EQ(traces[0].hops[0].sent, 3);
        EXPECT_EQ(traces[0].hops[0].received, 3);
        EXPECT_EQ(tracer.TakeProbes().size(), 1u);
    }
}

TEST(PathTrace, CancelEndsATraceNothingAnswers) {
    // A bound socket takes the one probe and never answers it, so only the cancel ends the
    // wait.
    platform::UdpSocket sink;
    ASSERT_FALSE(sink.Open({{127, 0, 0, 2}, 0}));
    PathTracer tracer;
    PathTraceOptions options;
    options.method = TraceMethod::Udp;
    options.maxTtl = 1;
    options.probesPerHop = 1;
    options.budget = 60s;
    options.udpBasePort = sink.LocalEndpoint()->port;
    std::thread canceller([&] {
        std::this_thread::sleep_for(100ms);
        tracer.Cancel();
    });
    const auto traces = tracer.Run({"127.0.0.2"}, options);
    canceller.join();
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_FALSE(traces[0].reached);
    ASSERT_EQ(traces[0].hops.size(), 1u);
    EXPECT_EQ(traces[0].hops[0].received, 0);
}

}  // namespace
}  // namespace lumidex
