// The STUN probe against scripted loopback servers: what it observes of mapping and filtering
// from their answers, and that hostile or silent servers cost it no more than its budget.
#include "probes/StunProbe.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <thread>

#include "support/StunResponder.h"

namespace lumidex {
namespace {

using Clock = std::chrono::steady_clock;
using testing::StunResponder;
using testing::StunScript;
using Mode = StunScript::Mode;

const stun::StunAddress kNat{"198.51.100.7", 40000, false};
const stun::StunAddress kNatOther{"198.51.100.7", 40001, false};

StunScript Plain(const char* address, std::optional<stun::StunAddress> mapped = kNat,
                 Mode mode = Mode::Answer) {
    StunScript script;
    script.address = address;
    script.mapped = mapped;
    script.mode = mode;
    return script;
}

StunScript Rfc5780(bool changeIpAndPort, bool changePort, bool ignoreChange = false,
                   bool legacy = false) {
    StunScript script = Plain("127.0.0.1");
    script.otherAddress = "127.0.0.2";
    script.answerChangeIpAndPort = changeIpAndPort;
    script.answerChangePort = changePort;
    script.ignoreChange = ignoreChange;
    script.legacy = legacy;
    return script;
}

struct Expected {
    bool mapped1;
    bool mapped2;
    bool behaviourTests;  // otherAddress and both mapping tests
    std::optional<bool> changeIpAndPort;
    std::optional<bool> changePort;
    bool malformed;
};

struct Case {
    const char* name;
    std::vector<StunScript> servers;
    Expected expected;
};

std::vector<Case> Cases() {
    return {
        {"rfc 5780 server, filters open",
         {Rfc5780(true, true), Plain("127.0.0.3")},
         {true, true, true, true, true, false}},
        {"address-dependent filter",
         {Rfc5780(false, true), Plain("127.0.0.3")},
         {true, true, true, false, true, false}},
        {"address-and-port-dependent filter",
         {Rfc5780(false, false), Plain("127.0.0.3")},
         {true, true, true, false, false, false}},
        // Answers from the address asked prove nothing about a filter.
        {"change request ignored",
         {Rfc5780(true, true, true), Plain("127.0.0.3")},
         {true, true, true, std::nullopt, std::nullopt, false}},
        {"rfc 3489 server",
         {Rfc5780(true, false, false, true), Plain("127.0.0.3")},
         {true, true, true, true, false, false}},
        {"plain servers only",
         {Plain("127.0.0.1"), Plain("127.0.0.3")},
         {true, true, false, std::nullopt, std::nullopt, false}},
        {"one server answers",
         {Plain("127.0.0.1"), Plain("127.0.0.3", kNat, Mode::Silent)},
         {true, false, false, std::nullopt, std::nullopt, false}},
        {"silence",
         {Plain("127.0.0.1", kNat, Mode::Silent)},
         {false, false, false, std::nullopt, std::nullopt, false}},
        {"garbage beside good servers",
         {Plain("127.0.0.4", kNat, Mode::Garbage), Plain("127.0.0.1"), Plain("127.0.0.3")},
         {true, true, false, std::nullopt, std::nullopt, true}},
        {"wrong ids beside good servers",
         {Plain("127.0.0.4", kNat, Mode::WrongId), Plain("127.0.0.1"), Plain("127.0.0.3")},
         {true, true, false, std::nullopt, std::nullopt, true}},
        {"a flood beside good servers",
         {Plain("127.0.0.4", kNat, Mode::Flood), Plain("127.0.0.1"), Plain("127.0.0.3")},
         {true, true, false, std::nullopt, std::nullopt, true}},
        {"a huge answer beside good servers",
         {Plain("127.0.0.4", kNat, Mode::Huge), Plain("127.0.0.1"), Plain("127.0.0.3")},
         {true, true, false, std::nullopt, std::nullopt, true}},
        {"same address twice gives one mapping",
         {Plain("127.0.0.1"), Plain("127.0.0.1")},
         {true, false, false, std::nullopt, std::nullopt, false}},
    };
}

TEST(StunProbe, ObservesWhatTheServersAnswerWithinTheBudget) {
    for (const Case& test : Cases()) {
        SCOPED_TRACE(test.name);
        std::vector<std::unique_ptr<StunResponder>> responders;
        std::vector<endpoints::StunServer> servers;
        for (const StunScript& script : test.servers) {
            responders.push_back(std::make_unique<StunResponder>(script));
            servers.push_back(responders.back()->Server());
        }
        StunProbe probe;
        const auto start = Clock::now();
        const StunObservations seen = probe.Run(servers, kStunBudget);
        EXPECT_LT(Clock::now() - start, kStunBudget + std::chrono::seconds(1));
        const Expected& expected = test.expected;
        EXPECT_EQ(seen.servers.size(), servers.size());
        ASSERT_TRUE(seen.local.has_value());
        EXPECT_EQ(seen.local->address, "127.0.0.1");
        EXPECT_EQ(seen.mapped1.has_value(), expected.mapped1);
        EXPECT_EQ(seen.mapped2.has_value(), expected.mapped2);
        if (seen.mapped1) {
            EXPECT_EQ(seen.mapped1->address, kNat.address);
            EXPECT_EQ(seen.mapped1->port, kNat.port);
        }
        EXPECT_EQ(seen.otherAddress.has_value(), expected.behaviourTests);
        EXPECT_EQ(seen.mappedOtherAddress.has_value(), expected.behaviourTests);
        EXPECT_EQ(seen.mappedOtherAddressAndPort.has_value(), expected.behaviourTests);
        if (expected.behaviourTests) {
            EXPECT_EQ(seen.otherAddress->address, "127.0.0.2");
        }
        EXPECT_EQ(seen.changeIpAndPortAnswered, expected.changeIpAndPort);
        EXPECT_EQ(seen.changePortAnswered, expected.changePort);
        EXPECT_EQ(seen.malformedAnswers > 0, expected.malformed) << seen.malformedAnswers;
        const auto records = probe.TakeProbes();
        EXPECT_FALSE(records.empty());
        for (const ProbeRecord& record : records) {
            EXPECT_EQ(record.kind, ProbeKind::Stun);
            EXPECT_EQ(record.rttMs.has_value(), record.outcome != ProbeOutcome::Timeout &&
                                                    record.outcome != ProbeOutcome::Malformed)
                << record.step << " " << record.target;
        }
        EXPECT_TRUE(probe.TakeProbes().empty());
    }
}

TEST(StunProbe, NoNatMapsToTheSocketsOwnAddress) {
    StunResponder first(Plain("127.0.0.1", std::nullopt));
    StunResponder second(Plain("127.0.0.3", std::nullopt));
    StunProbe probe;
    const auto seen = probe.Run({first.Server(), second.Server()}, kStunBudget);
    ASSERT_TRUE(seen.mapped1 && seen.mapped2 && seen.local);
    EXPECT_EQ(*seen.mapped1, *seen.local);
    EXPECT_EQ(*seen.mapped2, *seen.local);
}

TEST(StunProbe, RetransmitsAnUnansweredRequest) {
    StunResponder silent(Plain("127.0.0.1", kNat, Mode::Silent));
    StunProbe probe;
    probe.Run({silent.Server()}, kStunBudget);
    EXPECT_EQ(silent.Requests(), static_cast<int>(std::size(kStunRetransmitAt)));
}

TEST(StunProbe, UnresolvableServersAreRecordedAndSkipped) {
    StunResponder good(Plain("127.0.0.1"));
    StunProbe probe;
    // An empty name fails without asking any resolver.
    const auto seen = probe.Run({{"", 3478}, good.Server()}, kStunBudget);
    EXPECT_TRUE(seen.mapped1.has_value());
    const auto records = probe.TakeProbes();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().step, "lookup");
    EXPECT_EQ(records.front().target, ":3478");
}

// A Binding answered on [::1], and the same port once nothing listens there any more.
TEST(StunProbe, AnswersOverIpv6) {
    platform::UniqueFd fd(::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in6 local{};
    local.sin6_family = AF_INET6;
    local.sin6_addr = in6addr_loopback;
    socklen_t size = sizeof local;
    if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), size) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    const endpoints::StunServer server{"::1", ntohs(local.sin6_port)};
    std::thread answerer([&] {
        std::uint8_t buffer[512];
        sockaddr_in6 from{};
        socklen_t fromSize = sizeof from;
        const ssize_t got = ::recvfrom(fd.get(), buffer, sizeof buffer, 0,
                                       reinterpret_cast<sockaddr*>(&from), &fromSize);
        stun::TransactionId id{};
        if (got <= 0 || !stun::ReadBindingRequest({buffer, std::size_t(got)}, id)) {
            return;
        }
        const auto answer =
            stun::WriteBindingAnswer({id, true, stun::StunAddress{"2001:db8::7", 4242, true},
                                      std::nullopt, std::nullopt, std::nullopt, false});
        ::sendto(fd.get(), answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from),
                 fromSize);
    });
    StunProbe probe;
    EXPECT_EQ(probe.AnswersOverIpv6({{"127.0.0.1", 3478}, server}), std::optional<bool>(true));
    answerer.join();
    fd.reset();
    EXPECT_EQ(probe.AnswersOverIpv6({server}), std::optional<bool>(false));
    EXPECT_EQ(probe.AnswersOverIpv6({{"127.0.0.1", 3478}}), std::nullopt);
    const auto records = probe.TakeProbes();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].outcome, ProbeOutcome::Ok);
    EXPECT_EQ(records[1].outcome, ProbeOutcome::Timeout);
}

TEST(StunProbe, CancelEndsARunAtOnce) {
    StunResponder silent(Plain("127.0.0.1", kNat, Mode::Silent));
    StunProbe probe;
    const auto start = Clock::now();
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        probe.Cancel();
    });
    const auto seen = probe.Run({silent.Server()}, std::chrono::seconds(20));
    canceller.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(seen.mapped1.has_value());
    EXPECT_FALSE(probe.AnswersOverIpv6({silent.Server()}).has_value());
}

}  // namespace
}  // namespace lumidex
