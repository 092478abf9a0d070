// The Internet probe against loopback listeners only: answering sites, refusing ones, silent
// ones whose connects must be aborted when the wait ends, and no sites at all.
#include "probes/InternetProbe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "platform/TcpSocket.h"
#include "support/LoopbackServer.h"

namespace lumidex {
namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Each connect's outcome, in the list's order.
std::vector<std::string> Outcomes(const InternetProbeResult& result) {
    std::vector<std::string> outcomes;
    for (const ProbeRecord& connect : result.connects) {
        EXPECT_EQ(connect.kind, ProbeKind::Tcp);
        EXPECT_EQ(connect.step, "connect");
        outcomes.emplace_back(ProbeOutcomeName(connect.outcome));
    }
    return outcomes;
}

TEST(InternetProbeTest, TheBuiltInListNamesTenDistinctHosts) {
    // Each site weighs a tenth of the percentage: an empty piece, a doubled site or a port in
    // the list would skew it.
    std::vector<std::string> sites = PublicSiteList();
    EXPECT_EQ(sites.size(), 10u);
    for (const std::string& site : sites) {
        EXPECT_FALSE(site.empty());
        EXPECT_EQ(site.find_first_of(": \t"), std::string::npos) << site;
    }
    std::sort(sites.begin(), sites.end());
    EXPECT_EQ(std::adjacent_find(sites.begin(), sites.end()), sites.end());
}

// Time bounds that hold on any machine, sanitizers included: a wait that must end early is
// given a minute, so "early" is anything under half of it; a wait that must run out is short,
// and only its lower bound is exact.
constexpr long long kLongWaitMs = 60000;
constexpr long long kEarlyMs = kLongWaitMs / 2;

// Ten answering sites, or exactly as many as are enough beside silent ones.
TEST(InternetProbeTest, TenAnsweringSitesEndTheWaitEarly) {
    for (const int answering : {10, 6}) {
        SCOPED_TRACE(answering);
        testing::FullBacklogListener silent;
        std::vector<platform::UniqueFd> listeners;
        std::vector<std::string> sites;
        for (int i = 0; i < 10; ++i) {
            std::uint16_t port = 0;
            if (i < answering) {
                listeners.push_back(testing::LoopbackListener(16, port));
            }
            sites.push_back(testing::LoopbackSite(i < answering ? port : silent.Port()));
        }
        InternetProbeTiming timing;
        timing.waitMs = kLongWaitMs;
        const auto start = Clock::now();
        const InternetProbeResult result = ProbeInternetSites(sites, timing);
        EXPECT_GE(result.percentage, 60u);
        EXPECT_LT(MsSince(start), kEarlyMs);
        // Sites still connecting when enough had answered were not waited for: left out, not
        // failed.
        EXPECT_EQ(Outcomes(result), std::vector<std::string>(result.connects.size(), "ok"));
        EXPECT_EQ(result.connects.size() * 10, result.percentage);
        for (const ProbeRecord& connect : result.connects) {
            EXPECT_TRUE(connect.rttMs.has_value());
        }
    }
}

TEST(InternetProbeTest, RefusingSitesGiveZeroAfterTheFullWait) {
    std::vector<platform::UniqueFd> bound;
    std::vector<std::string> sites;
    for (int i = 0; i < 10; ++i) {
        std::uint16_t port = 0;
        bound.push_back(testing::LoopbackListener(-1, port));
        sites.push_back(testing::LoopbackSite(port));
    }
    const auto start = Clock::now();
    const InternetProbeResult result = ProbeInternetSites(sites);
    EXPECT_EQ(result.percentage, 0u);
    EXPECT_GE(MsSince(start), InternetProbeTiming{}.waitMs);
    EXPECT_LT(MsSince(start), kEarlyMs);
    EXPECT_EQ(Outcomes(result), std::vector<std::string>(10, "refused"));
    EXPECT_EQ(result.connects.front().target, sites.front());
}

TEST(InternetProbeTest, SilentSitesAreAbortedWhenTheWaitEnds) {
    testing::FullBacklogListener silent;
    std::uint16_t port = 0;
    const auto answering = testing::LoopbackListener(4, port);
    std::vector<std::string> sites(3, testing::LoopbackSite(silent.Port()));
    sites.push_back(testing::LoopbackSite(port));  // one of four: 25 %
    InternetProbeTiming timing;
    timing.waitMs = 500;
    const auto start = Clock::now();
    const InternetProbeResult result = ProbeInternetSites(sites, timing);
    EXPECT_EQ(result.percentage, 25u);
    EXPECT_EQ(Outcomes(result), (std::vector<std::string>{"timeout", "timeout", "timeout", "ok"}));
    EXPECT_GE(MsSince(start), timing.waitMs);
    // Connects that were not aborted would run until their own bound.
    EXPECT_LT(MsSince(start), platform::kDefaultConnectTimeoutMs / 2)
        << "pending connects must end when their sockets close";
}

TEST(InternetProbeTest, NoSitesGiveZeroAtOnce) {
    InternetProbeTiming timing;
    timing.waitMs = kLongWaitMs;
    const auto start = Clock::now();
    EXPECT_EQ(CheckInternetConnection({}, timing), 0u);
    EXPECT_TRUE(ProbeInternetSites({}, timing).connects.empty());
    EXPECT_LT(MsSince(start), kEarlyMs);
}

}  // namespace
}  // namespace lumidex
