// The Internet probe against loopback listeners only: answering sites, refusing ones, silent
// ones whose connects must be aborted when the wait ends, and no sites at all.
#include "probes/InternetProbe.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "engine/Endpoints.h"
#include "platform/TextSplitter.h"
#include "support/LoopbackServer.h"

namespace lumidex {
namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(TextSplitterTest, KeepsInnerEmptyPiecesOnly) {
    const struct {
        const char* delimiter;
        const char* text;
        std::vector<std::string> pieces;
    } rows[] = {
        {",", "a,b", {"a", "b"}},
        {",", "a,,b", {"a", "", "b"}},
        {",", "a,b,", {"a", "b"}},
        {",", ",a", {"", "a"}},
        {",", "", {}},
        {",", "ab", {"ab"}},
        {"\r\n", "x\r\ny\r\n\r\nz", {"x", "y", "", "z"}},
        {"", "a,b", {"a,b"}},
    };
    TextSplitter splitter;
    EXPECT_EQ(splitter.Delimiter(), "\r\n");
    for (const auto& row : rows) {
        splitter.SetDelimiter(row.delimiter);
        splitter.Split(row.text);
        EXPECT_EQ(splitter.Pieces(), row.pieces) << row.text;
    }
}

TEST(InternetProbeTest, TheBuiltInListHasTenSites) {
    const std::vector<std::string> sites = PublicSiteList();
    ASSERT_EQ(sites.size(), 10u);
    EXPECT_EQ(sites.front() + ",",
              std::string(endpoints::kPublicSites).substr(0, sites[0].size() + 1));
}

TEST(InternetProbeTest, TenAnsweringSitesEndTheWaitEarly) {
    std::vector<platform::UniqueFd> listeners;
    std::vector<std::string> sites;
    for (int i = 0; i < 10; ++i) {
        std::uint16_t port = 0;
        listeners.push_back(testing::LoopbackListener(16, port));
        sites.push_back(testing::LoopbackSite(port));
    }
    const auto start = Clock::now();
    EXPECT_GE(CheckInternetConnection(sites), 60u);
    EXPECT_LT(MsSince(start), 1500);
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
    EXPECT_EQ(CheckInternetConnection(sites), 0u);
    EXPECT_GE(MsSince(start), 2950);
    EXPECT_LT(MsSince(start), 3500);
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
    EXPECT_EQ(CheckInternetConnection(sites, timing), 25u);
    EXPECT_GE(MsSince(start), 480);
    EXPECT_LT(MsSince(start), 800) << "pending connects must end when their sockets close";
}

TEST(InternetProbeTest, NoSitesGiveZeroAtOnce) {
    const auto start = Clock::now();
    EXPECT_EQ(CheckInternetConnection({}), 0u);
    EXPECT_LT(MsSince(start), 20);
}

}  // namespace
}  // namespace lumidex
