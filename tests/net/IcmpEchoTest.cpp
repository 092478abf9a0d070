// Echo request bytes, the sequence counter, the reply check, and the probe against loopback.
#include "net/IcmpEcho.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "IcmpDatagrams.h"
#include "net/IcmpReply.h"

namespace {

using namespace lumidex;
using lumidex::testing::Datagram;
using lumidex::testing::Icmp;
using lumidex::testing::Ipv4;
using platform::IcmpSocketKind;
using platform::IcmpSocketPolicy;
using Bytes = std::vector<std::uint8_t>;

TEST(EchoRequest, BytesOnTheWire) {
    const EchoRequest request = BuildEchoRequest(0x1234, 0xBEEF, 0x01020304);
    const Bytes head(request.begin(), request.begin() + 13);
    EXPECT_EQ(head, (Bytes{8, 0, request[2], request[3], 0x34, 0x12, 0xEF, 0xBE, 0, 4, 3, 2, 1}));
    for (std::size_t i = 0; i < kEchoPayloadBytes; ++i) {
        EXPECT_EQ(request[13 + i], 0x20 + i);
    }
    // Recomputed over the stored checksum, the sum verifies to zero.
    EXPECT_EQ(InternetChecksum(request), 0);
    EXPECT_NE(BuildEchoRequest(0x1234, 0xBEF0, 0x01020304)[2], request[2]);
}

TEST(EchoRequest, InternetChecksumOfKnownBytes) {
    struct Row {
        Bytes bytes;
        std::uint16_t checksum;  // as stored, little-endian
    } rows[] = {
        {{0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7}, 0x0D22},  // RFC 1071 example
        {{0x01}, 0xFFFE},
        {{}, 0xFFFF},
        {Bytes(4, 0xFF), 0x0000},
        {Bytes(1000, 0xFF), 0x0000},  // carries folded twice
    };
    for (const Row& row : rows) {
        EXPECT_EQ(InternetChecksum(row.bytes), row.checksum);
    }
}

TEST(EchoRequest, SequenceNumbersAreConsecutiveFromAnyThread) {
    const std::uint16_t first = NextEchoSequence();
    EXPECT_EQ(NextEchoSequence(), static_cast<std::uint16_t>(first + 1));
    constexpr int kThreads = 4;
    constexpr int kEach = 2000;
    std::vector<std::vector<std::uint16_t>> taken(kThreads);
    std::vector<std::thread> threads;
    for (auto& mine : taken) {
        threads.emplace_back([&mine] {
            for (int i = 0; i < kEach; ++i) {
                mine.push_back(NextEchoSequence());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::set<std::uint16_t> all;
    for (const auto& mine : taken) {
        all.insert(mine.begin(), mine.end());
    }
    EXPECT_EQ(all.size(), std::size_t{kThreads * kEach});
    EXPECT_EQ(NextEchoSequence(), static_cast<std::uint16_t>(first + 2 + kThreads * kEach));
}

TEST(EchoReply, OnlyAnEchoReplyFromThePingedHostWithOurIdentifierCounts) {
    const std::uint32_t host = ::inet_addr("127.0.0.1");
    const std::uint32_t other = ::inet_addr("127.0.0.2");
    const EchoExpectation raw{true, host, 0x1234, {}};
    const EchoExpectation dgram{false, host, 0x1234, {}};
    const std::uint16_t mine[] = {7, 1};
    const std::uint16_t others[] = {2, 3};
    const EchoExpectation rawMine{true, host, 0x1234, mine};
    const EchoExpectation rawOthers{true, host, 0x1234, others};
    const Bytes reply = Icmp(0, 0, 0x1234);
    Bytes withOptions = Ipv4(reply, host, 6);
    Bytes badVersion = Ipv4(reply, host);
    badVersion[0] = 0x65;
    Bytes udp = Ipv4(reply, host);
    udp[9] = 17;
    Bytes longHeader = Ipv4(reply, host);
    longHeader[0] = 0x4F;  // 60 bytes of header in a 65-byte datagram
    Bytes shortHeader = Ipv4(reply, host);
    shortHeader[0] = 0x44;
    const Bytes cut = Ipv4(reply, host);
    struct Row {
        const char* what;
        Bytes datagram;
        std::uint32_t from;
        EchoExpectation expected;
        IcmpReplyVerdict verdict;
    } rows[] = {
        {"reply", Ipv4(reply, host), host, raw, IcmpReplyVerdict::Reply},
        {"reply behind IP options", withOptions, host, raw, IcmpReplyVerdict::Reply},
        {"reply without IP header", reply, host, dgram, IcmpReplyVerdict::Reply},
        {"our own request looped back", Ipv4(Icmp(8, 0, 0x1234), host), host, raw,
         IcmpReplyVerdict::NotEchoReply},
        {"port unreachable", Ipv4(Icmp(3, 3, 0x1234), host), host, raw,
         IcmpReplyVerdict::NotEchoReply},
        {"reply with a code", Icmp(0, 1, 0x1234), host, dgram, IcmpReplyVerdict::NotEchoReply},
        {"another program's ping", Ipv4(Icmp(0, 0, 0x3412), host), host, raw,
         IcmpReplyVerdict::WrongIdentifier},
        {"another host", Ipv4(reply, other), other, raw, IcmpReplyVerdict::WrongSource},
        {"an answer to one of our requests", Ipv4(reply, host), host, rawMine,
         IcmpReplyVerdict::Reply},
        {"an answer to another probe's request", Ipv4(reply, host), host, rawOthers,
         IcmpReplyVerdict::WrongSequence},
        {"not IPv4", badVersion, host, raw, IcmpReplyVerdict::NotIpv4},
        {"not ICMP", udp, host, raw, IcmpReplyVerdict::NotIcmp},
        {"header longer than the ICMP part leaves", longHeader, host, raw,
         IcmpReplyVerdict::TooShort},
        {"header beyond the datagram", Datagram(longHeader, 40), host, raw,
         IcmpReplyVerdict::BadHeaderLength},
        {"header below 20 bytes", shortHeader, host, raw, IcmpReplyVerdict::BadHeaderLength},
        {"cut inside the ICMP header", Datagram(cut, 27), host, raw, IcmpReplyVerdict::TooShort},
        {"cut inside the IP header", Datagram(cut, 9), host, raw, IcmpReplyVerdict::TooShort},
        {"empty", {}, host, raw, IcmpReplyVerdict::TooShort},
        {"seven bytes without header", Datagram(reply, 7), host, dgram, IcmpReplyVerdict::TooShort},
        {"eight bytes without header", Datagram(reply, 8), host, dgram, IcmpReplyVerdict::Reply},
    };
    for (const Row& row : rows) {
        EXPECT_STREQ(DescribeIcmpReply(CheckEchoReply(row.datagram, row.from, row.expected)),
                     DescribeIcmpReply(row.verdict))
            << row.what;
    }
}

class PingLoopback : public ::testing::TestWithParam<IcmpSocketPolicy> {};

// Loopback answers every echo request, each within its wait; the probe pauses after each
// answer.
TEST_P(PingLoopback, EveryRequestIsAnsweredOnce) {
    if (platform::OpenIcmpSocket(GetParam()).kind == IcmpSocketKind::None) {
        GTEST_SKIP() << "this kind of ICMP socket may not be opened here";
    }
    const std::uint16_t before = NextEchoSequence();
    const auto start = std::chrono::steady_clock::now();
    const std::vector<EchoTurn> turns = PingHostTurns("127.0.0.1", 3, {GetParam()});
    ASSERT_EQ(turns.size(), 3u);
    for (const EchoTurn& turn : turns) {
        EXPECT_EQ(turn.fate, EchoFate::Answered);
        EXPECT_GT(turn.rttMs, 0);
        EXPECT_LT(turn.rttMs, kEchoWaitMs);
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(3 * kEchoPauseMs));
    EXPECT_LT(took, std::chrono::milliseconds(3 * kEchoPauseMs + kEchoWaitMs));
    EXPECT_EQ(NextEchoSequence(), static_cast<std::uint16_t>(before + 4));
}

const char* PolicyName(const ::testing::TestParamInfo<IcmpSocketPolicy>& info) {
    switch (info.param) {
        case IcmpSocketPolicy::RawOnly:
            return "Raw";
        case IcmpSocketPolicy::DatagramOnly:
            return "Datagram";
        case IcmpSocketPolicy::Any:
            break;
    }
    return "Any";
}

INSTANTIATE_TEST_SUITE_P(Sockets, PingLoopback,
                         ::testing::Values(IcmpSocketPolicy::Any, IcmpSocketPolicy::RawOnly,
                                           IcmpSocketPolicy::DatagramOnly),
                         PolicyName);

TEST(PingHost, AnUnknownHostOrNoRequestsGiveZeroAtOnce) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(PingHost("", 3), 0);
    EXPECT_EQ(PingHost("127.0.0.1", 0), 0);
    const std::vector<EchoTurn> turns = PingHostTurns("", 2);
    ASSERT_EQ(turns.size(), 2u) << "a turn for each request, even one never sent";
    EXPECT_EQ(turns[0].fate, EchoFate::Failed);
    EXPECT_EQ(AnsweredTurns(turns), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kEchoPauseMs));
}

}  // namespace
