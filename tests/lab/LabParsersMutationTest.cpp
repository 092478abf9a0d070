// Everything a client sends reaches the simulator's parsers; mutated and cut inputs must give
// a defined answer (complete, need more, malformed) and keep the parsers' promises, never a
// crash (this also runs under ASan and UBSan). A fixed seed keeps failures reproducible.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tools/kelvora-lab/HttpRequestParser.h"
#include "tools/kelvora-lab/LabConfig.h"
#include "tools/kelvora-lab/LabLimits.h"
#include "tools/kelvora-lab/ProbeAnswers.h"

namespace lumidex::lab {
namespace {

constexpr int kRounds = 20000;

std::string Mutate(std::string input, std::mt19937& random) {
    std::uniform_int_distribution<int> edits(1, 4);
    for (int n = edits(random); n > 0 && !input.empty(); --n) {
        const std::size_t at =
            std::uniform_int_distribution<std::size_t>(0, input.size() - 1)(random);
        switch (random() % 4) {
            case 0:
                input[at] = static_cast<char>(random());
                break;
            case 1:
                input.erase(at, 1 + random() % 8);
                break;
            case 2:
                input.insert(at, 1 + random() % 8, static_cast<char>(random()));
                break;
            case 3:
                input.insert(at, input.substr(at, random() % 32));
                break;
        }
    }
    return input;
}

TEST(LabParsers, HttpRequestParserKeepsItsPromisesOnMutatedInput) {
    const std::vector<std::string> seeds = {
        "GET /channels.htm.xml HTTP/1.1\r\nAccept: */*\r\nHost: h\r\nConnection: "
        "Keep-Alive\r\n\r\n",
        "POST /bbs?nm=x HTTP/1.1\r\nContent-Length: 10\r\nConnection: close\r\n\r\n0123456789\r\n",
    };
    std::mt19937 random(20240607);
    for (int round = 0; round < kRounds; ++round) {
        const std::string input = Mutate(seeds[round % seeds.size()], random);
        HttpRequestParser parser(kMaxPlainBodyBytes);
        std::size_t offset = 0;
        auto result = HttpRequestParser::Result::NeedMore;
        // Fed in random pieces; every piece is consumed unless the request ends inside it.
        while (result == HttpRequestParser::Result::NeedMore && offset < input.size()) {
            const std::size_t piece = 1 + random() % 16;
            std::size_t consumed = 0;
            const std::string_view chunk = std::string_view(input).substr(offset, piece);
            result = parser.Feed(chunk, consumed);
            ASSERT_LE(consumed, chunk.size());
            if (result == HttpRequestParser::Result::NeedMore) {
                ASSERT_EQ(consumed, chunk.size());
            }
            offset += consumed;
        }
        if (result == HttpRequestParser::Result::Complete) {
            const std::string* length = parser.Request().Header("Content-Length");
            const std::size_t expected = length == nullptr ? 0 : std::stoul(*length);
            ASSERT_EQ(parser.Request().body.size(), expected) << input;
        }
        if (result == HttpRequestParser::Result::Malformed) {
            ASSERT_FALSE(parser.Error().empty()) << input;
        }
    }
}

TEST(LabParsers, ProbeRequestAndConfigurationSurviveMutatedInput) {
    std::mt19937 random(7);
    const std::string request("\x0c\x00\x43\x00\x00\x07\x0a\x01\x02\x03\x40\x1f", 12);
    for (int round = 0; round < kRounds; ++round) {
        const std::string input = Mutate(request, random);
        ProbeRequest parsed;
        std::string reason;
        const bool ok = ParseProbeRequest(
            {reinterpret_cast<const std::uint8_t*>(input.data()), input.size()}, parsed, reason);
        ASSERT_EQ(ok, reason.empty());
        ASSERT_TRUE(!ok || input.size() == kProbeRequestSize);
    }
    const std::string config =
        R"({"log":"/tmp/l","lateMs":5,"channelList":{"address":"1.2.3.4","port":80,"mode":"chunked"},)"
        R"("tcp":[{"address":"1.2.3.5","port":80,"mode":"drop"}],"trackers":[{"address":"1.2.3.6"}]})";
    for (int round = 0; round < kRounds / 4; ++round) {
        LabConfig parsed;
        std::string error;
        const bool ok = ParseLabConfig(Mutate(config, random), parsed, error);
        ASSERT_EQ(ok, error.empty());
    }
}

}  // namespace
}  // namespace lumidex::lab
