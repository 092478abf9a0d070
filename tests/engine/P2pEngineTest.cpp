// The P2P probes in a run: when they start and are collected in both walks, what a stop does
// to them, and the one notes line and next steps they add, beside rows that stay as they are.
#include <gtest/gtest.h>

#include "FakeProbes.h"
#include "engine/P2pVerdict.h"

namespace lumidex {
namespace {

using testing::FakeP2p;
using testing::FakeService;
using testing::PhaseRun;

P2pObservations OpenNetwork() {
    P2pObservations o;
    o.stun.servers = {"stun1.example:3478", "stun2.example:3478"};
    o.stun.local = TransportAddress{"192.168.1.20", 40000};
    o.stun.mapped1 = TransportAddress{"203.1.113.7", 40000};
    o.stun.mapped2 = o.stun.mapped1;
    o.portMapping = {{PortMappingProtocol::Upnp, true, true, "203.1.113.7", false, "connected"}};
    return o;
}

struct Probes {
    CheckProbes probes;
    FakeService* service;
    FakeP2p* p2p;
};

Probes MakeProbes(P2pObservations observations) {
    Probes made;
    auto service = std::make_unique<FakeService>();
    auto p2p = std::make_unique<FakeP2p>();
    p2p->observations = std::move(observations);
    made.service = service.get();
    made.p2p = p2p.get();
    made.probes.service = std::move(service);
    made.probes.p2p = std::move(p2p);
    return made;
}

const char kHealthySummary[] =
    "\r\n\r\n----------------------------\r\n[检测结束]\r\n\r\n共有17顶\r\n已经检测6项\r\n"
    "警告0项\r\n错误0项";

TEST(P2pEngine, RunsBesideTheRowsOrAfterThemAndAddsOneNotesLine) {
    for (const bool oneAtATime : {false, true}) {
        SCOPED_TRACE(oneAtATime ? "one at a time" : "side by side");
        PhaseRun run;
        Probes made = MakeProbes(OpenNetwork());
        FakeP2p* p2p = made.p2p;
        ASSERT_TRUE(run.Run(std::move(made.probes), false, oneAtATime));
        const std::string lastRow = std::to_string(run.window.Model().FindById(18));
        EXPECT_EQ(p2p->Calls(),
                  (std::vector<std::string>{oneAtATime ? "start@" + lastRow : "start@-1",
                                            "collect@" + lastRow}));
        EXPECT_EQ(run.window.NotesText(), std::string(kHealthySummary) + "\r\nP2P连通性:开放");
        const std::optional<P2pResult> result = TheRunDiagnosis().P2p();
        ASSERT_TRUE(result);
        EXPECT_EQ(result->verdict, P2pVerdict::Open);
    }
}

// Problems beside no row count nowhere: rows, counters, findings and log are those of the same
// run without P2P probes.
TEST(P2pEngine, ProblemsShowAsNextStepsInTheNotesAndCountNowhere) {
    const auto setUp = [](FakeService& s) {
        s.answered[ServerGroup::ChannelServers] = 0;
        s.answered[ServerGroup::Trackers] = 0;
    };
    PhaseRun without;
    {
        auto service = std::make_unique<FakeService>();
        setUp(*service);
        CheckProbes probes;
        probes.service = std::move(service);
        ASSERT_TRUE(without.Run(std::move(probes)));
    }
    P2pObservations blocked;
    blocked.stun.servers = {"stun1.example:3478"};
    PhaseRun run;
    Probes made = MakeProbes(blocked);
    setUp(*made.service);
    ASSERT_TRUE(run.Run(std::move(made.probes)));

    const std::string notes = run.window.NotesText();
    const std::string withoutNotes = without.window.NotesText();
    const std::string advice =
        AdviceLines({MakeProblem(ProblemCode::UdpBlocked, {"stun1.example:3478"})}).front();
    EXPECT_EQ(notes, withoutNotes + "\r\nP2P连通性:不通\r\n" + advice);
    EXPECT_NE(advice.find("stun1.example:3478"), std::string::npos);
    EXPECT_EQ(run.Counters().errorCount, without.Counters().errorCount);
    EXPECT_EQ(run.Counters().warningCount, without.Counters().warningCount);
    EXPECT_EQ(run.LogLines(), without.LogLines());
    for (int id = 13; id <= 18; ++id) {
        EXPECT_EQ(run.RowOf(id).detail, without.RowOf(id).detail) << id;
        EXPECT_EQ(run.DiagnosisOf(id).problems.size(), without.DiagnosisOf(id).problems.size());
    }
}

TEST(P2pEngine, AStopAbandonsTheProbesAndLeavesNoResult) {
    const struct {
        const char* name;
        bool oneAtATime;
        bool stopAtStart;  // else while they are collected
        std::vector<std::string> calls;
    } cases[] = {
        {"pending at the start", false, true, {"start@-1", "abandon@-1"}},
        {"pending at the start, one at a time", true, true, {}},
        {"while collected", false, false, {"start@-1", "collect@R", "abandon@R"}},
        {"while collected, one at a time", true, false, {"start@R", "collect@R", "abandon@R"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PhaseRun run;
        Probes made = MakeProbes(OpenNetwork());
        FakeP2p* p2p = made.p2p;
        if (c.stopAtStart) {
            run.window.StopEvent().Set();
        } else {
            p2p->collectWaitsForAbandon = true;
            p2p->onCollect = [&run] { run.window.StopEvent().Set(); };
        }
        ASSERT_TRUE(run.Run(std::move(made.probes), false, c.oneAtATime));
        std::vector<std::string> expected = c.calls;
        const std::string lastRow = std::to_string(run.window.Model().FindById(18));
        for (std::string& call : expected) {
            if (call.back() == 'R') {
                call.replace(call.size() - 1, 1, lastRow);
            }
        }
        EXPECT_EQ(p2p->Calls(), expected);
        EXPECT_FALSE(TheRunDiagnosis().P2p());
        EXPECT_EQ(run.window.NotesText().find("P2P"), std::string::npos);
    }
}

}  // namespace
}  // namespace lumidex
