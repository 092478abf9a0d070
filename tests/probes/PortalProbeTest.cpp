// The portal probe against loopback sites: what each kind of answer leaves, the bound on the
// whole probe and on what is read of each answer.
#include "probes/PortalProbe.h"

#include <gtest/gtest.h>

#include <chrono>

#include "engine/Diagnosis.h"
#include "support/LoopbackServer.h"

namespace lumidex {
namespace {

using testing::ScriptedServer;

std::string Redirect(const std::string& location) {
    return "HTTP/1.1 302 Found\r\nLocation: " + location +
           "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

TEST(PortalProbe, EachSiteAnswersWithinTheBoundAndTwoRedirectsMakeAPortal) {
    ScriptedServer first(Redirect("http://login.portal.lab/?u=1"));
    ScriptedServer second(Redirect("http://login.portal.lab/?u=2"));
    // A page far longer than the probe reads.
    ScriptedServer page("HTTP/1.1 200 OK\r\nContent-Length: 70000\r\n\r\n<html>page",
                        ScriptedServer::Ending::Close, 70000 - 10);
    std::uint16_t refusing = 0;
    const platform::UniqueFd closed = testing::LoopbackListener(-1, refusing);
    testing::FullBacklogListener silent;
    const std::vector<std::string> sites = {
        testing::LoopbackSite(first.Port()), testing::LoopbackSite(second.Port()),
        testing::LoopbackSite(page.Port()), testing::LoopbackSite(refusing),
        testing::LoopbackSite(silent.Port())};

    TheRunDiagnosis().Reset();
    TheRunDiagnosis().SetCurrentRow(6);
    const PortalProbeTiming timing{1000, 4096};
    const auto start = std::chrono::steady_clock::now();
    const std::vector<SiteAnswer> answers = FetchSiteAnswers(sites, timing);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1800));

    ASSERT_EQ(answers.size(), sites.size());
    EXPECT_EQ(answers[0].status, 302);
    EXPECT_EQ(answers[0].location, "http://login.portal.lab/?u=1");
    EXPECT_EQ(answers[2].status, 200);
    EXPECT_EQ(answers[2].body.rfind("<html>page", 0), 0u);
    EXPECT_LE(answers[2].body.size(), timing.readBytes);
    EXPECT_GT(answers[2].body.size(), 1000u);
    EXPECT_EQ(answers[3].status, 0);
    EXPECT_EQ(answers[4].status, 0);
    EXPECT_EQ(first.Request().rfind("GET / HTTP/1.1\r\n", 0), 0u) << first.Request();
    EXPECT_NE(first.Request().find("\r\nHost: " + sites[0] + "\r\n"), std::string::npos);

    // One http record per site, in the order of the sites.
    const std::vector<ProbeRecord> records = TheRunDiagnosis().Row(6).probes;
    ASSERT_EQ(records.size(), sites.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].kind, ProbeKind::Http);
        EXPECT_EQ(records[i].target, sites[i]);
        EXPECT_EQ(records[i].rttMs.has_value(), i < 3) << i;
    }
    EXPECT_EQ(records[3].outcome, ProbeOutcome::Error);
    EXPECT_NE(records[4].outcome, ProbeOutcome::Ok);

    const std::optional<PortalFinding> portal = JudgeInterception(answers);
    ASSERT_TRUE(portal.has_value());
    EXPECT_EQ(portal->host, "login.portal.lab");
    TheRunDiagnosis().Reset();
}

}  // namespace
}  // namespace lumidex
