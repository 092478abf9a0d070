#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ServiceTestSupport.h"
#include "UdpResponder.h"
#include "service/UdpBurst.h"
#include "service/UdpServerProbe.h"
#include "support/DiagnosisText.h"

namespace lumidex {
namespace {

using testing::Bytes;
using testing::DiagnosisCapture;
using testing::RecordingProbeHost;
using testing::ScriptedReply;
using testing::ServiceLogCapture;
using testing::UdpResponder;

// Long enough that a loaded machine still delivers a loopback answer in time; only the silent
// server waits it out.
constexpr std::chrono::milliseconds kShortWait{1000};

Bytes Reply(std::size_t size, std::uint16_t length, std::uint8_t type = kProbeReplyType) {
    Bytes bytes(size, 0);
    const std::uint8_t head[] = {static_cast<std::uint8_t>(length),
                                 static_cast<std::uint8_t>(length >> 8),
                                 kProbeSignature,
                                 0,
                                 0,
                                 type};
    for (std::size_t i = 0; i < size && i < sizeof head; ++i) {
        bytes[i] = head[i];
    }
    return bytes;
}

TEST(ProbeDatagram, RequestBytesAndReplyRules) {
    const auto request = BuildProbeRequest({{{10, 1, 2, 3}}, 8000});
    EXPECT_EQ(Bytes(request.begin(), request.end()),
              (Bytes{0x0C, 0x00, 0x43, 0x00, 0x00, 0x07, 0x0A, 0x01, 0x02, 0x03, 0x40, 0x1F}));

    Bytes badSignature = Reply(6, 6);
    badSignature[2] = 0x44;
    const struct {
        const char* name;
        Bytes datagram;
        ProbeReplyKind kind;
    } cases[] = {
        {"6 bytes, L = 6", Reply(6, 6), ProbeReplyKind::Reply},
        {"6 bytes, L = 2", Reply(6, 2), ProbeReplyKind::Reply},
        {"6 bytes, L = 0", Reply(6, 0), ProbeReplyKind::Reply},
        {"6 bytes, L = 7", Reply(6, 7), ProbeReplyKind::Malformed},
        {"6 bytes, L = 1", Reply(6, 1), ProbeReplyKind::Malformed},
        {"16 bytes, L = 10", Reply(16, 10), ProbeReplyKind::Reply},
        {"5 bytes", Reply(5, 5), ProbeReplyKind::Malformed},
        {"4 bytes, L = 0", Reply(4, 0), ProbeReplyKind::Malformed},
        {"empty", {}, ProbeReplyKind::Malformed},
        {"wrong signature", badSignature, ProbeReplyKind::Malformed},
        {"type 9", Reply(6, 6, 9), ProbeReplyKind::NotProbeReply},
        {"a request echoed", Bytes(request.begin(), request.end()), ProbeReplyKind::NotProbeReply},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ClassifyProbeReply(c.datagram), c.kind) << c.name;
    }
}

// Draws scripted numbers; counts the seeds.
class ScriptedRandom : public SampleRandom {
public:
    explicit ScriptedRandom(std::vector<int> draws) : m_draws(std::move(draws)) {}
    void Seed() override { ++seeds; }
    int Next() override { return m_draws.at(m_next++ % m_draws.size()); }
    int seeds = 0;

private:
    std::vector<int> m_draws;
    std::size_t m_next = 0;
};

// Draws 0, 1, 2, ...: every position in turn.
ScriptedRandom InOrder() {
    std::vector<int> draws(64);
    for (int i = 0; i < 64; ++i) {
        draws[i] = i;
    }
    return ScriptedRandom(draws);
}

std::string TimedOut(const ServerRecord& server, int attempt) {
    return "\r\n向服务器" + std::to_string(static_cast<int>(server.address.LittleEndianValue())) +
           "发送UDP包超时，" + std::to_string(attempt) + "次";
}

struct ProbeRun {
    int answered = 0;
    int reportable = 0;
    std::vector<int> positions;
    int stopPolls = 0;
    std::string findings;
    std::vector<std::string> log;
    std::vector<std::string> problems;
    std::vector<std::string> probes;
};

ServerList ListOf(const std::vector<const UdpResponder*>& responders) {
    ServerList list;
    for (const auto* responder : responders) {
        list.InsertIfAbsent(responder->Record().address, responder->Record().port);
    }
    return list;
}

// What a walk left behind: its answer, what the host recorded, the findings, the log and the
// row's diagnosis.
ProbeRun Result(int answered, const RecordingProbeHost& host, const ServiceLogCapture& log,
                const DiagnosisCapture& diagnosis) {
    ProbeRun run;
    run.answered = answered;
    run.reportable = host.counters.reportable;
    run.positions = host.positions;
    run.stopPolls = host.stopPolls;
    run.findings = ServiceLogCapture::Findings();
    run.log = log.Lines();
    run.problems = diagnosis.Problems();
    run.probes = diagnosis.Probes();
    return run;
}

// One run as the service checks make it: the socket opened with port 0, then the walk.
ProbeRun Probe(UdpProbeSocket& socket, const std::vector<const UdpResponder*>& responders,
               int sampleSize, SampleRandom& random, int stopAtPoll = 0) {
    ServiceLogCapture log;
    const DiagnosisCapture diagnosis;
    EXPECT_TRUE(socket.Open(0));
    const ServerList list = ListOf(responders);
    RecordingProbeHost host;
    host.stopAtPoll = stopAtPoll;
    const int answered =
        ProbeUdpServers(ServerGroup::ChannelServers, socket, list, sampleSize, host, random);
    return Result(answered, host, log, diagnosis);
}

ProbeRun Probe(const std::vector<const UdpResponder*>& responders, int sampleSize,
               SampleRandom& random, int stopAtPoll = 0) {
    UdpProbeSocket socket(kShortWait);
    return Probe(socket, responders, sampleSize, random, stopAtPoll);
}

// The same run side by side: every chosen server probed at once on a socket of its own, the
// walk taking their attempts in list order.
ProbeRun ProbeSideBySide(const std::vector<const UdpResponder*>& responders, int sampleSize,
                         SampleRandom& random, int stopAtPoll = 0) {
    ServiceLogCapture log;
    const DiagnosisCapture diagnosis;
    const ServerList list = ListOf(responders);
    if (list.Empty()) {
        return {};
    }
    const std::vector<ServerRecord> entries = list.Entries();
    const std::vector<bool> chosen = ChooseSample(entries.size(), sampleSize, random);
    ProbeTasks tasks;
    const std::vector<ServerAttempts> attempts =
        StartServerAttempts(tasks, entries, chosen, kShortWait);
    RecordingProbeHost host;
    host.stopAtPoll = stopAtPoll;
    const int answered = WalkUdpServers(ServerGroup::ChannelServers, entries, chosen, host,
                                        ReplayAttempts(attempts));
    return Result(answered, host, log, diagnosis);
}

void ExpectSameRun(const ProbeRun& sideBySide, const ProbeRun& oneAtATime) {
    EXPECT_EQ(sideBySide.answered, oneAtATime.answered);
    EXPECT_EQ(sideBySide.reportable, oneAtATime.reportable);
    EXPECT_EQ(sideBySide.positions, oneAtATime.positions);
    EXPECT_EQ(sideBySide.stopPolls, oneAtATime.stopPolls);
    EXPECT_EQ(sideBySide.findings, oneAtATime.findings);
    EXPECT_EQ(sideBySide.log, oneAtATime.log);
    // Severity and code: the two runs' servers listen on ports of their own.
    const auto codes = [](const ProbeRun& run) {
        std::vector<std::string> out;
        for (const std::string& problem : run.problems) {
            out.push_back(problem.substr(0, problem.find(' ', problem.find(' ') + 1)));
        }
        return out;
    };
    EXPECT_EQ(codes(sideBySide), codes(oneAtATime));
    EXPECT_EQ(sideBySide.probes, oneAtATime.probes);
}

std::vector<ScriptedReply> Always(Bytes bytes, bool fromOther = false) {
    return {{std::move(bytes), fromOther}};
}

TEST(ProbeUdpServers, JudgesEachServerByItsOwnReply) {
    const struct {
        const char* name;
        testing::ReplyScript script;
        int answered;
        int timeOuts;         // findings lines
        std::string problem;  // "" for none; the server is its target
        std::vector<std::string> probes;
    } cases[] = {
        {"answers at once",
         [](int) { return Always(Reply(6, 6)); },
         1,
         0,
         "",
         {"udp answer ok rtt"}},
        {"length field 7 is malformed",
         [](int) { return Always(Reply(6, 7)); },
         0,
         2,
         "error udp_replies_malformed",
         {"udp answer malformed rtt", "udp answer malformed rtt"}},
        {"a 5-byte datagram is malformed",
         [](int) { return Always(Reply(5, 5)); },
         0,
         2,
         "error udp_replies_malformed",
         {"udp answer malformed rtt", "udp answer malformed rtt"}},
        {"another type",
         [](int) { return Always(Reply(6, 6, 9)); },
         0,
         2,
         "error udp_replies_malformed",
         {"udp answer malformed rtt", "udp answer malformed rtt"}},
        {"a reply from another address",
         [](int) { return Always(Reply(6, 6), true); },
         0,
         2,
         "error udp_replies_malformed",
         {"udp answer malformed rtt", "udp answer malformed rtt"}},
        {"answers the second attempt",
         [](int request) { return Always(Reply(6, request == 0 ? 7 : 6)); },
         1,
         1,
         "warning udp_replies_malformed",
         {"udp answer malformed rtt", "udp answer ok rtt"}},
        {"silent",
         [](int) { return std::vector<ScriptedReply>{}; },
         0,
         2,
         "error channel_servers_silent",
         {"udp answer timeout", "udp answer timeout"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UdpResponder responder(2, c.script);
        ScriptedRandom random = InOrder();
        const ProbeRun run = Probe({&responder}, 8, random);
        EXPECT_EQ(run.answered, c.answered);
        std::string expected;
        for (int attempt = 1; attempt <= c.timeOuts; ++attempt) {
            expected += TimedOut(responder.Record(), attempt);
        }
        EXPECT_EQ(run.findings, expected);
        EXPECT_EQ(run.reportable, c.answered == 0 ? 1 : 0);
        EXPECT_EQ(run.positions, std::vector<int>{1});
        EXPECT_EQ(run.log, std::vector<std::string>{"开始检测udp的连接"});
        const std::string target =
            responder.Record().address.Dotted() + ":" + std::to_string(responder.Record().port);
        EXPECT_EQ(run.problems, c.problem.empty()
                                    ? std::vector<std::string>{}
                                    : std::vector<std::string>{c.problem + " " + target});
        EXPECT_EQ(run.probes, c.probes);
        const auto received = responder.Received();
        ASSERT_EQ(received.size(), static_cast<std::size_t>(c.answered == 1 ? c.timeOuts + 1 : 2));
        const auto request = BuildProbeRequest(responder.Record());
        EXPECT_EQ(received[0], Bytes(request.begin(), request.end()));
        EXPECT_EQ(received[0][6], 127);
        EXPECT_EQ(received[0][9], 2);

        UdpResponder fresh(2, c.script);
        ScriptedRandom again = InOrder();
        ExpectSameRun(ProbeSideBySide({&fresh}, 8, again), run);
    }
}

TEST(ProbeUdpServers, SamplesWalksInListOrderAndStops) {
    std::vector<std::unique_ptr<UdpResponder>> responders;
    std::vector<const UdpResponder*> servers;
    // Listed by the little-endian address value, i.e. by the last byte: .3, .4, .5, .6, .7.
    for (std::uint8_t last : {5, 3, 7, 4, 6}) {
        responders.push_back(
            std::make_unique<UdpResponder>(last, [](int) { return Always(Reply(6, 6)); }));
        servers.push_back(responders.back().get());
    }
    auto order = [] {
        std::lock_guard lock(UdpResponder::OrderMutex());
        return std::exchange(UdpResponder::Order(), {});
    };
    order();

    {
        SCOPED_TRACE("a list shorter than the sample: all, in list order");
        ScriptedRandom random({4, 4, 1, 0, 3, 2});
        const ProbeRun run = Probe(servers, 8, random);
        EXPECT_EQ(run.answered, 5);
        EXPECT_EQ(order(), (std::vector<int>{3, 4, 5, 6, 7}));
        EXPECT_EQ(run.positions, (std::vector<int>{1, 2, 3, 4, 5}));
        EXPECT_EQ(random.seeds, 1);
    }
    {
        SCOPED_TRACE("a sample of two: drawn positions, repeated draws redrawn");
        ScriptedRandom random({8, 3, 13, 4});
        const ProbeRun run = Probe(servers, 2, random);
        EXPECT_EQ(run.answered, 2);
        EXPECT_EQ(order(), (std::vector<int>{6, 7}));  // positions 3 and 4
        EXPECT_EQ(run.stopPolls, 5);
    }
    {
        SCOPED_TRACE("stop during the walk");
        ScriptedRandom random = InOrder();
        const ProbeRun run = Probe(servers, 8, random, 2);
        EXPECT_EQ(run.answered, 2);
        EXPECT_EQ(order(), (std::vector<int>{3, 4}));
        EXPECT_EQ(run.reportable, 0);
        ScriptedRandom again = InOrder();
        ExpectSameRun(ProbeSideBySide(servers, 8, again, 2), run);
        order();
    }
    {
        SCOPED_TRACE("sample size 0");
        ScriptedRandom random = InOrder();
        const ProbeRun run = Probe(servers, 0, random);
        EXPECT_EQ(run.answered, 0);
        EXPECT_TRUE(order().empty());
        EXPECT_EQ(run.reportable, 1);
        EXPECT_TRUE(run.positions.empty());
    }
    {
        SCOPED_TRACE("empty list");
        ScriptedRandom random = InOrder();
        const ProbeRun run = Probe({}, 8, random);
        EXPECT_EQ(run.answered, 0);
        EXPECT_EQ(run.reportable, 0);
        EXPECT_EQ(run.stopPolls, 0);
        EXPECT_TRUE(run.log.empty());
        EXPECT_EQ(random.seeds, 0);
    }
}

// A reply that reaches the socket after its run (a slow server's late answer) must not be
// read by the next run on the same socket, whoever sent it.
TEST(ProbeUdpServers, ALateReplyBetweenRunsLeavesTheNextRunAlone) {
    const struct {
        const char* name;
        bool answersLater;        // the server answers the second run too
        std::uint8_t lateSender;  // third byte of the late reply's 127.0.x.2 sender
        int answered;
    } cases[] = {
        {"from the server, now down", false, 0, 0},
        {"from another address, server up", true, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UdpResponder responder(2, [&c](int request) {
            return request == 0 || c.answersLater ? Always(Reply(6, 6))
                                                  : std::vector<ScriptedReply>{};
        });
        UdpProbeSocket socket(kShortWait);
        ScriptedRandom first = InOrder();
        ASSERT_EQ(Probe(socket, {&responder}, 8, first).answered, 1);

        platform::UdpSocket late;
        ASSERT_FALSE(late.Open({{127, 0, c.lateSender, 2}, 0}));
        const Bytes reply = Reply(6, 6);
        ASSERT_FALSE(late.SendTo(reply, {{127, 0, 0, 1}, socket.LocalPort()}));
        // Loopback hands the datagram over within the send; the pause only makes sure.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));

        ScriptedRandom second = InOrder();
        const ProbeRun run = Probe(socket, {&responder}, 8, second);
        EXPECT_EQ(run.answered, c.answered);
        std::string expected;
        for (int attempt = 1; c.answered == 0 && attempt <= 2; ++attempt) {
            expected += TimedOut(responder.Record(), attempt);
        }
        EXPECT_EQ(run.findings, expected);
    }
}

// A probe reply from the address of another server of the list is that server's late answer:
// silence for the server probed, not an odd reply, whichever way the walk probes.
TEST(ProbeUdpServers, AReplyFromAnotherListedServerIsItsLateAnswer) {
    UdpResponder responder(2, [](int) { return Always(Reply(6, 6), true); });
    ServerList list = ListOf({&responder});
    list.InsertIfAbsent({{127, 0, 1, 2}}, 9);  // where the responder's replies come from
    const std::vector<ServerRecord> entries = list.Entries();
    const std::string expected = "error channel_servers_silent " +
                                 responder.Record().address.Dotted() + ":" +
                                 std::to_string(responder.Record().port) + ",127.0.1.2:9";
    for (const bool sideBySide : {false, true}) {
        SCOPED_TRACE(sideBySide ? "side by side" : "one at a time");
        ServiceLogCapture log;
        const DiagnosisCapture diagnosis;
        ScriptedRandom random = InOrder();
        RecordingProbeHost host;
        int answered = 0;
        if (sideBySide) {
            const std::vector<bool> chosen = ChooseSample(entries.size(), 8, random);
            ProbeTasks tasks;
            const std::vector<ServerAttempts> attempts =
                StartServerAttempts(tasks, entries, chosen, kShortWait);
            answered = WalkUdpServers(ServerGroup::ChannelServers, entries, chosen, host,
                                      ReplayAttempts(attempts));
        } else {
            UdpProbeSocket socket(kShortWait);
            ASSERT_TRUE(socket.Open(0));
            answered = ProbeUdpServers(ServerGroup::ChannelServers, socket, list, 8, host, random);
        }
        EXPECT_EQ(answered, 0);
        EXPECT_EQ(diagnosis.Problems(), std::vector<std::string>{expected});
    }
}

TEST(ProbeUdpServers, WithoutASocketEverySendFailsTwice) {
    // Nothing is sent: the socket is never opened, so these addresses are only named.
    ServiceLogCapture log;
    const DiagnosisCapture diagnosis;
    UdpProbeSocket socket;
    ServerList list;
    list.InsertIfAbsent({{1, 2, 3, 200}}, 8000);
    list.InsertIfAbsent({{10, 1, 2, 3}}, 8000);
    RecordingProbeHost host;
    ScriptedRandom random = InOrder();
    EXPECT_EQ(ProbeUdpServers(ServerGroup::Trackers, socket, list, 6, host, random), 0);
    EXPECT_EQ(ServiceLogCapture::Findings(),
              "\r\n向服务器50462986发送UDP包失败,1次\r\n向服务器50462986发送UDP包失败,2次"
              "\r\n向服务器-939326975发送UDP包失败,1次\r\n向服务器-939326975发送UDP包失败,2次");
    EXPECT_EQ(host.counters.reportable, 1);
    EXPECT_EQ(host.positions, (std::vector<int>{1, 2}));
    EXPECT_EQ(diagnosis.Problems(),
              std::vector<std::string>{"error trackers_silent 10.1.2.3:8000,1.2.3.200:8000"});
    EXPECT_EQ(diagnosis.Probes(), std::vector<std::string>(4, "udp answer error"));
}

// An abandoned run's UDP attempts end at once, their sockets shut: the walk's end does not wait
// out a silent server's receive, and no second attempt goes out after the cancel, nor any
// attempt after a press of the stop button.
TEST(ProbeUdpServers, AbandonedAttemptsEndAtOnceAndSendNoMore) {
    UdpResponder silent(21, [](int) { return std::vector<ScriptedReply>{}; });
    const std::vector<ServerRecord> entries = {silent.Record()};
    std::vector<ServerAttempts> attempts;
    ProbeTasks tasks;
    attempts = StartServerAttempts(tasks, entries, {true}, std::chrono::seconds(10));
    for (int i = 0; i < 500 && silent.Received().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(silent.Received().size(), 1u) << "the first attempt never went out";
    const auto cancelled = std::chrono::steady_clock::now();
    tasks.Cancel();
    ASSERT_EQ(attempts[0].wait_for(std::chrono::seconds(5)), std::future_status::ready)
        << "the attempt waited out its receive";
    EXPECT_LT(std::chrono::steady_clock::now() - cancelled, std::chrono::seconds(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(silent.Received().size(), 1u) << "an attempt went out after the cancel";

    // Once the stop button was pressed no attempt begins, where the walk would have stopped.
    ProbeTasks pressedTasks;
    const std::vector<ServerAttempts> none = StartServerAttempts(
        pressedTasks, entries, {true}, std::chrono::seconds(10), [] { return true; });
    EXPECT_TRUE(none[0].get().value.empty());
    EXPECT_EQ(silent.Received().size(), 1u) << "an attempt went out after the press";
}

TEST(UdpProbeSocket, OpensOnAnyPortAndMovesOnFromABusyPort) {
    UdpProbeSocket socket;
    ASSERT_TRUE(socket.Open(0));
    EXPECT_NE(socket.LocalPort(), 0);

    // A port in use is skipped for the next one up.
    platform::UdpSocket busy;
    ASSERT_FALSE(busy.Open({{0, 0, 0, 0}, 0}));
    const std::uint16_t taken = busy.LocalEndpoint()->port;
    ASSERT_TRUE(socket.Open(taken));
    EXPECT_GT(socket.LocalPort(), taken);
    EXPECT_LE(socket.LocalPort(), taken + 10);

    socket.Close();
    EXPECT_FALSE(socket.SendProbeRequest({{{127, 0, 0, 1}}, 9}));
    EXPECT_EQ(socket.ReceiveProbeReply().kind, ProbeReceive::Nothing);
}

}  // namespace
}  // namespace lumidex

// Three servers side by side on one socket, each answering its own way; the figures must not
// mix them up.
namespace lumidex {
namespace {

TEST(UdpBurst, CountsEachServersOwnAnswersOnce) {
    const Bytes reply = Reply(6, 6);
    struct Case {
        const char* name;
        testing::ReplyScript script;
        int received;
    };
    const Case cases[] = {
        {"drops every fourth",
         [&](int request) {
             return request % 4 == 3 ? std::vector<ScriptedReply>{}
                                     : std::vector<ScriptedReply>{{reply}};
         },
         15},
        {"answers every request twice",
         [&](int) {
             return std::vector<ScriptedReply>{{reply}, {reply}};
         },
         20},
        {"answers from another address",
         [&](int) {
             return std::vector<ScriptedReply>{{reply, true}};
         },
         0},
    };
    std::vector<std::unique_ptr<UdpResponder>> responders;
    std::vector<ServerRecord> servers;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        responders.push_back(
            std::make_unique<UdpResponder>(static_cast<std::uint8_t>(70 + i), cases[i].script));
        servers.push_back(responders.back()->Record());
    }
    // A fourth server is beyond the burst's limit and never probed.
    servers.push_back({{{127, 0, 0, 99}}, 9});
    UdpBurst burst;
    const std::vector<BurstSamples> samples =
        burst.Run(servers, {20, std::chrono::milliseconds(5), std::chrono::milliseconds(500)});
    ASSERT_EQ(samples.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(samples[i].sent, 20) << cases[i].name;
        EXPECT_EQ(static_cast<int>(samples[i].rttsMs.size()), cases[i].received) << cases[i].name;
        EXPECT_EQ(responders[i]->Received().size(), 20u) << cases[i].name;
    }
    EXPECT_EQ(samples[0].target,
              servers[0].address.Dotted() + ":" + std::to_string(servers[0].port));
    EXPECT_EQ(burst.TakeProbes().size(), 60u);
}

TEST(UdpBurst, CancelEndsTheBurstEarly) {
    UdpBurst burst;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        burst.Cancel();
    });
    // A silent server and a schedule of minutes: only the cancel ends it.
    const auto samples = burst.Run({{{{127, 0, 0, 98}}, 9}},
                                   {20, std::chrono::seconds(10), std::chrono::seconds(10)});
    canceller.join();
    ASSERT_EQ(samples.size(), 1u);
    EXPECT_LT(samples[0].sent, 20);
}

}  // namespace
}  // namespace lumidex
