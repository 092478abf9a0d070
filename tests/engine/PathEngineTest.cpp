// The path probes in a run: when the bursts start and the traces are collected in both walks,
// what the rows hand them, what a stop does, and the notes lines they add.
#include <gtest/gtest.h>

#include "FakeProbes.h"
#include "engine/PathQuality.h"

namespace lumidex {
namespace {

using testing::FakePath;
using testing::FakeService;
using testing::PhaseRun;

ProbeRecord Udp(const std::string& target, ProbeOutcome outcome = ProbeOutcome::Ok) {
    return {ProbeKind::Udp, target, outcome, std::nullopt, "answer"};
}

BurstSamples Burst(const std::string& target, int sent, int lost, double rttMs, double stepMs) {
    BurstSamples samples{target, sent, {}};
    for (int i = 0; i < sent - lost; ++i) {
        samples.rttsMs.push_back(rttMs + (i % 2) * stepMs);
    }
    return samples;
}

struct Probes {
    CheckProbes probes;
    FakeService* service;
    FakePath* path;
};

Probes MakeProbes(PathObservations observations = {}) {
    Probes made;
    auto service = std::make_unique<FakeService>();
    auto path = std::make_unique<FakePath>();
    path->observations = std::move(observations);
    made.service = service.get();
    made.path = path.get();
    made.probes.service = std::move(service);
    made.probes.path = std::move(path);
    return made;
}

std::string WithRow(std::vector<std::string> calls, int row) {
    std::string joined;
    for (std::string& call : calls) {
        if (call.back() == 'R') {
            call.replace(call.size() - 1, 1, std::to_string(row));
        }
        joined += call + " ";
    }
    return joined;
}

std::string Joined(const std::vector<std::string>& calls) {
    return WithRow(calls, -1);
}

TEST(PathEngine, BurstsTheAnsweredServersAndTracesWhatTheRowsFoundSilent) {
    const struct {
        const char* name;
        bool oneAtATime;
        std::vector<ProbeRecord> trackers;
        std::vector<ProbeRecord> channels;
        std::vector<ProbeRecord> listHosts;
        std::vector<ProbeRecord> websites;
        std::vector<std::string> calls;
        std::vector<std::string> servers;
        std::vector<std::string> traced;
        std::vector<Problem> hostsFile{};
    } cases[] = {
        {"trackers first, at most three, each once",
         false,
         {Udp("198.51.100.1:7000"), Udp("198.51.100.2:7000", ProbeOutcome::Timeout),
          Udp("198.51.100.1:7000"), Udp("198.51.100.3:7000"), Udp("198.51.100.4:7000"),
          Udp("198.51.100.5:7000")},
         {Udp("198.51.100.9:8000")},
         {},
         {},
         {"gateway@-1", "udp@R", "collect@R"},
         {"198.51.100.1:7000", "198.51.100.3:7000", "198.51.100.4:7000"},
         {}},
        {"channel servers when no tracker answered, one at a time",
         true,
         {Udp("198.51.100.2:7000", ProbeOutcome::Timeout)},
         {Udp("198.51.100.9:8000")},
         {},
         {},
         {"gateway@R", "udp@R", "collect@R"},
         {"198.51.100.9:8000"},
         {}},
        {"a list host that lost an echo and the list's host are traced, the answered not",
         false,
         {},
         {},
         {{ProbeKind::Icmp, "list1.example", ProbeOutcome::Ok, 5.0, "echo"},
          {ProbeKind::Icmp, "list2.example", ProbeOutcome::Timeout, std::nullopt, "echo"},
          {ProbeKind::Http, "http://channel.example:8080/list.xml", ProbeOutcome::Timeout,
           std::nullopt, "total"},
          {ProbeKind::Dns, "list3.example", ProbeOutcome::Error, std::nullopt, "lookup"},
          {ProbeKind::Icmp, "list2.example", ProbeOutcome::Timeout, std::nullopt, "echo"}},
         {},
         {"gateway@-1", "udp@R", "collect@R"},
         {},
         {"list2.example", "channel.example"}},
        {"the rows take turns: the list's host among the first traced",
         false,
         {},
         {},
         {{ProbeKind::Http, "http://channel.example/list.xml", ProbeOutcome::Timeout, std::nullopt,
           "total"},
          {ProbeKind::Icmp, "list1.example", ProbeOutcome::Timeout, std::nullopt, "echo"}},
         {{ProbeKind::Tcp, "www.example:80", ProbeOutcome::Timeout, std::nullopt, "connect"},
          {ProbeKind::Tcp, "club.example:80", ProbeOutcome::Timeout, std::nullopt, "connect"},
          {ProbeKind::Tcp, "search.example:80", ProbeOutcome::Timeout, std::nullopt, "connect"}},
         {"gateway@-1", "udp@R", "collect@R"},
         {},
         {"www.example", "channel.example", "club.example", "list1.example", "search.example"}},
        {"a name the hosts file sends elsewhere is not traced",
         false,
         {},
         {},
         {},
         {{ProbeKind::Tcp, "www.example:80", ProbeOutcome::Timeout, std::nullopt, "connect"},
          {ProbeKind::Tcp, "club.example:80", ProbeOutcome::Timeout, std::nullopt, "connect"},
          {ProbeKind::Tcp, "search.example:80", ProbeOutcome::Timeout, std::nullopt, "connect"}},
         {"gateway@-1", "udp@R", "collect@R"},
         {},
         {"search.example"},
         {MakeProblem(ProblemCode::HostsMapsWrongAddress, {"www.example"}),
          MakeProblem(ProblemCode::HostsMapsProductDomain, {"club.example"})}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PhaseRun run;
        Probes made = MakeProbes();
        made.service->serverRecords[ServerGroup::Trackers] = c.trackers;
        made.service->serverRecords[ServerGroup::ChannelServers] = c.channels;
        made.service->hostRecords[HostGroup::List] = c.listHosts;
        made.service->hostRecords[HostGroup::Website] = c.websites;
        made.service->hostsFileProblems = c.hostsFile;
        FakePath* path = made.path;
        ASSERT_TRUE(run.Run(std::move(made.probes), false, c.oneAtATime));
        EXPECT_EQ(Joined(path->Calls()), WithRow(c.calls, run.window.Model().FindById(18)));
        EXPECT_EQ(path->servers, c.servers);
        EXPECT_EQ(path->traceTargets, c.traced);
        ASSERT_TRUE(TheRunDiagnosis().Path());
        EXPECT_TRUE(run.window.NotesText().ends_with("\r\n线路质量:正常"));
    }
}

// The notes line shows the worst burst; the problems' next steps follow it, and rows and
// counters stay those of the same run without path probes.
TEST(PathEngine, ProblemsShowTheWorstBurstAndNextStepsInTheNotesAndCountNowhere) {
    PhaseRun without;
    {
        CheckProbes probes;
        probes.service = std::make_unique<FakeService>();
        ASSERT_TRUE(without.Run(std::move(probes)));
    }
    PathObservations lossy;
    lossy.gatewayAddress = "192.168.1.1";
    lossy.gateway = Burst("192.168.1.1", 20, 2, 2, 1);
    lossy.udp = {Burst("198.51.100.1:7000", 20, 0, 30, 4)};
    PhaseRun run;
    ASSERT_TRUE(run.Run(MakeProbes(lossy).probes));

    const std::optional<PathResult> result = TheRunDiagnosis().Path();
    ASSERT_TRUE(result);
    EXPECT_EQ(run.window.NotesText(), without.window.NotesText() +
                                          "\r\n线路质量:丢包10%,抖动4ms\r\n" +
                                          AdviceLines(result->problems).front());
    EXPECT_EQ(result->problems.size(), 1u);
    EXPECT_EQ(run.Counters().errorCount, without.Counters().errorCount);
    EXPECT_EQ(run.Counters().warningCount, without.Counters().warningCount);
    EXPECT_EQ(run.LogLines(), without.LogLines());
}

TEST(PathEngine, AStopAbandonsTheProbesAndLeavesNoResult) {
    const struct {
        const char* name;
        bool oneAtATime;
        bool stopAtStart;  // else while they are collected
        std::vector<std::string> calls;
    } cases[] = {
        {"pending at the start", false, true, {"gateway@-1", "abandon@-1"}},
        {"pending at the start, one at a time", true, true, {"abandon@-1"}},
        {"while collected", false, false, {"gateway@-1", "udp@R", "collect@R", "abandon@R"}},
        {"while collected, one at a time",
         true,
         false,
         {"gateway@R", "udp@R", "collect@R", "abandon@R"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PhaseRun run;
        Probes made = MakeProbes();
        FakePath* path = made.path;
        if (c.stopAtStart) {
            run.window.StopEvent().Set();
        } else {
            path->collectWaitsForAbandon = true;
            path->onCollect = [&run] { run.window.StopEvent().Set(); };
        }
        ASSERT_TRUE(run.Run(std::move(made.probes), false, c.oneAtATime));
        EXPECT_EQ(Joined(path->Calls()), WithRow(c.calls, run.window.Model().FindById(18)));
        EXPECT_FALSE(TheRunDiagnosis().Path());
        EXPECT_EQ(run.window.NotesText().find("线路质量"), std::string::npos);
    }
}

}  // namespace
}  // namespace lumidex
