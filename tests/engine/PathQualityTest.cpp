// The path decisions from scripted measurements: burst figures, where a trace breaks, and the
// problems of a run.
#include "engine/PathQuality.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumidex {
namespace {

TEST(PathQuality, BurstFigures) {
    struct Case {
        const char* name;
        BurstSamples samples;
        int received;
        double lossPct;
        std::optional<double> median, p95, jitter;
    } cases[] = {
        {"nothing sent is no measurement", {"g", 0, {}}, 0, 0, {}, {}, {}},
        {"all lost", {"g", 20, {}}, 0, 100, {}, {}, {}},
        {"one answer has no jitter", {"g", 4, {7}}, 1, 75, 7, 7, {}},
        // Jitter follows the order sent, not the sorted order: 10,30,10,30 varies by 20 each.
        {"alternating", {"g", 4, {10, 30, 10, 30}}, 4, 0, 20, 30, 20},
        {"even count median", {"g", 5, {1, 2, 3, 4}}, 4, 20, 2.5, 4, 1},
        // More answers than probes: the surplus is dropped, never shown as negative loss.
        {"surplus answers", {"g", 2, {5, 5, 9}}, 2, 0, 5, 5, 0},
    };
    for (const Case& c : cases) {
        const BurstStats stats = SummarizeBurst(c.samples);
        EXPECT_EQ(stats.received, c.received) << c.name;
        EXPECT_DOUBLE_EQ(stats.lossPct, c.lossPct) << c.name;
        EXPECT_EQ(stats.rttMedianMs, c.median) << c.name;
        EXPECT_EQ(stats.rttP95Ms, c.p95) << c.name;
        EXPECT_EQ(stats.jitterMs, c.jitter) << c.name;
    }
    // Nearest rank over 20: the 19th smallest.
    std::vector<double> rtts;
    for (int i = 1; i <= 20; ++i) {
        rtts.push_back(i);
    }
    EXPECT_EQ(SummarizeBurst({"t", 20, rtts}).rttP95Ms, 19);
}

// A hop: address ("" silent), probes received of three.
TraceHop Hop(int ttl, std::string address, int received = 3, bool unreachable = false) {
    TraceHop hop{ttl, std::nullopt, 3, received, std::nullopt, unreachable};
    if (!address.empty()) {
        hop.address = std::move(address);
        hop.rttMedianMs = ttl * 2.0;
    }
    return hop;
}

constexpr const char* kGateway = "192.168.1.1";
constexpr const char* kTarget = "198.51.100.7";

TEST(PathQuality, WhereATraceBreaks) {
    struct Case {
        const char* name;
        PathTrace trace;
        std::optional<BreakPoint> expected;
    } cases[] = {
        {"reached without loss",
         {kTarget, true, {Hop(1, kGateway), Hop(2, "203.0.113.1"), Hop(3, kTarget)}},
         std::nullopt},
        {"a silent hop in the middle is not the break",
         {kTarget, true, {Hop(1, kGateway), Hop(2, "", 0), Hop(3, kTarget)}},
         std::nullopt},
        {"loss at one hop only is rate limiting",
         {kTarget, true, {Hop(1, kGateway), Hop(2, "203.0.113.1", 1), Hop(3, kTarget)}},
         std::nullopt},
        {"loss that starts at a hop and persists",
         {kTarget,
          true,
          {Hop(1, kGateway), Hop(2, "203.0.113.1"), Hop(3, "203.0.113.9", 2), Hop(4, "", 0),
           Hop(5, kTarget, 1)}},
         BreakPoint{3, "203.0.113.9", BreakWhere::Provider}},
        {"loss from the gateway on",
         {kTarget, true, {Hop(1, kGateway, 2), Hop(2, "203.0.113.1", 2), Hop(3, kTarget, 1)}},
         BreakPoint{1, kGateway, BreakWhere::Local}},
        {"only the target loses",
         {kTarget, true, {Hop(1, kGateway), Hop(2, "203.0.113.1"), Hop(3, kTarget, 2)}},
         BreakPoint{3, kTarget, BreakWhere::Service}},
        {"stops after a provider hop, a silent hop before it",
         {kTarget,
          false,
          {Hop(1, kGateway), Hop(2, "", 0), Hop(3, "203.0.113.1"), Hop(4, "", 0), Hop(5, "", 0)}},
         BreakPoint{3, "203.0.113.1", BreakWhere::Provider}},
        {"stops at the gateway",
         {kTarget, false, {Hop(1, kGateway), Hop(2, "", 0), Hop(3, "", 0)}},
         BreakPoint{1, kGateway, BreakWhere::Local}},
        {"nothing answers: no hop to name",
         {kTarget, false, {Hop(1, "", 0), Hop(2, "", 0)}},
         std::nullopt},
        {"a second private router before any public hop is local",
         {kTarget, false, {Hop(1, kGateway), Hop(2, "10.0.0.1"), Hop(3, "", 0)}},
         BreakPoint{2, "10.0.0.1", BreakWhere::Local}},
        {"a private hop behind a public one is the provider's",
         {kTarget,
          false,
          {Hop(1, kGateway), Hop(2, "100.64.0.1"), Hop(3, "10.9.0.1"), Hop(4, "", 0)}},
         BreakPoint{3, "10.9.0.1", BreakWhere::Provider}},
        {"stops in the target's /24",
         {kTarget, false, {Hop(1, kGateway), Hop(2, "203.0.113.1"), Hop(3, "198.51.100.1")}},
         BreakPoint{3, "198.51.100.1", BreakWhere::Service}},
        {"the hop that reports the target unreachable",
         {kTarget, false, {Hop(1, kGateway), Hop(2, "203.0.113.1", 3, true), Hop(3, "", 0)}},
         BreakPoint{2, "203.0.113.1", BreakWhere::Service}},
        {"a private target: private hops past the gateway are not local",
         {"10.20.0.5", false, {Hop(1, kGateway), Hop(2, "10.1.0.1"), Hop(3, "", 0)}},
         BreakPoint{2, "10.1.0.1", BreakWhere::Provider}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindBreak(c.trace, kGateway), c.expected) << c.name;
    }
}

TEST(PathQuality, TheRouterInFrontOfAnotherReachedHostOfTheNetworkIsTheServicesEnd) {
    const PathTrace silent{
        kTarget, false, {Hop(1, kGateway), Hop(2, "203.0.113.1"), Hop(3, "", 0)}};
    const PathTrace reached{
        "198.51.100.9", true, {Hop(1, kGateway), Hop(2, "203.0.113.1"), Hop(3, "198.51.100.9")}};
    const PathTrace elsewhere{
        "203.0.113.50", true, {Hop(1, kGateway), Hop(2, "203.0.113.1"), Hop(3, "203.0.113.50")}};
    EXPECT_EQ(FindBreak(silent, kGateway, {elsewhere})->where, BreakWhere::Provider);
    EXPECT_EQ(FindBreak(silent, kGateway, {silent, reached})->where, BreakWhere::Service);
}

std::vector<std::string> Codes(const std::vector<Problem>& problems) {
    std::vector<std::string> codes;
    for (const Problem& problem : problems) {
        codes.emplace_back(InfoOf(problem.code).name);
    }
    return codes;
}

BurstSamples Burst(std::string target, int answered, double rtt, double swing = 0) {
    BurstSamples samples{std::move(target), 20, {}};
    for (int i = 0; i < answered; ++i) {
        samples.rttsMs.push_back(rtt + (i % 2 == 1 ? swing : 0));
    }
    return samples;
}

TEST(PathQuality, ProblemsOfARun) {
    struct Case {
        const char* name;
        PathObservations observations;
        std::vector<std::string> codes;
    } cases[] = {
        {"healthy", {kGateway, Burst(kGateway, 20, 1), {Burst("a:1", 20, 20)}, {}, {}}, {}},
        {"one datagram in twenty lost is at the threshold",
         {kGateway, Burst(kGateway, 20, 1), {Burst("a:1", 19, 20)}, {}, {}},
         {"udp_packet_loss"}},
        {"jitter to the gateway and the service, at the thresholds",
         {kGateway,
          Burst(kGateway, 20, 1, 10),
          {Burst("a:1", 20, 20, 29.9), Burst("b:1", 20, 20, 30)},
          {},
          {}},
         {"local_link_jitter", "udp_jitter_high"}},
        {"a lossy local link", {kGateway, Burst(kGateway, 18, 1), {}, {}, {}}, {"local_link_loss"}},
        {"an unmeasured burst says nothing",
         {kGateway, BurstSamples{kGateway, 0, {}}, {}, {}, {}},
         {}},
        {"a gateway that ignores echoes loses nothing; a server that stops answering does",
         {kGateway, Burst(kGateway, 0, 1), {Burst("a:1", 0, 20)}, {}, {}},
         {"udp_packet_loss"}},
        {"one problem per place a path breaks",
         {kGateway,
          std::nullopt,
          {},
          {{kTarget, false, {Hop(1, kGateway), Hop(2, "", 0)}},
           {"203.0.113.80", false, {Hop(1, kGateway), Hop(2, "", 0)}},
           {"203.0.113.81", false, {Hop(1, kGateway), Hop(2, "198.18.9.1"), Hop(3, "", 0)}}},
          {}},
         {"path_breaks_locally", "path_breaks_at_provider"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Codes(DecidePath(c.observations).problems), c.codes) << c.name;
    }
}

TEST(PathQuality, ABreakNamesTheHopAndItsTtlAndEveryTraceStaysInTheResult) {
    PathObservations observations{kGateway, std::nullopt, {}, {}, {}};
    observations.traces = {
        {kTarget, false, {Hop(1, kGateway), Hop(2, "203.0.113.1"), Hop(3, "", 0)}},
        {"203.0.113.80", true, {Hop(1, kGateway), Hop(2, "203.0.113.80")}}};
    const PathResult result = DecidePath(observations);
    ASSERT_EQ(result.problems.size(), 1u);
    EXPECT_EQ(result.problems[0].severity, Severity::Warning);
    EXPECT_EQ(result.problems[0].targets, std::vector<std::string>{"203.0.113.1 (TTL 2)"});
    ASSERT_EQ(result.traces.size(), 2u);
    EXPECT_FALSE(result.traces[1].breaksAt);
}

}  // namespace
}  // namespace lumidex
