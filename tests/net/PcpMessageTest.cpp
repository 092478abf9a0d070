#include "net/PcpMessage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumidex {
namespace {

// A 24-byte answer header: version, R + opcode, result, lifetime and epoch as given.
std::vector<std::uint8_t> Answer(std::uint8_t version, std::uint8_t opcodeByte, std::uint8_t result,
                                 std::uint32_t epoch = 0x01020304,
                                 std::size_t size = kPcpHeaderBytes) {
    std::vector<std::uint8_t> bytes(size, 0);
    bytes[0] = version;
    bytes[1] = opcodeByte;
    bytes[3] = result;
    bytes[7] = 0x3C;
    for (int i = 0; i < 4; ++i) {
        bytes[8 + i] = static_cast<std::uint8_t>(epoch >> (24 - 8 * i));
    }
    return bytes;
}

TEST(PcpMessageTest, AnnounceAsksForNothingButAnAnswer) {
    const PcpAnnounceRequest request = BuildPcpAnnounce({192, 168, 1, 20});
    const std::vector<std::uint8_t> expected = {2, 0, 0, 0, 0, 0, 0,   0,   0,   0,   0, 0,
                                                0, 0, 0, 0, 0, 0, 255, 255, 192, 168, 1, 20};
    EXPECT_EQ(std::vector<std::uint8_t>(request.begin(), request.end()), expected);
}

TEST(PcpMessageTest, ReadsAnswersAndNamesWhatIsWrong) {
    const struct {
        std::string name;
        std::vector<std::uint8_t> bytes;
        PcpAnswerError error;
        std::uint8_t result = 0;
    } cases[] = {
        {"success", Answer(2, 0x80, 0), PcpAnswerError::None, kPcpSuccess},
        {"address mismatch", Answer(2, 0x80, 12), PcpAnswerError::None, kPcpAddressMismatch},
        {"options after the header", Answer(2, 0x80, 0, 7, 32), PcpAnswerError::None},
        {"NAT-PMP only router", {0, 0x80, 0, 1}, PcpAnswerError::OldVersion, kPcpUnsuppVersion},
        {"NAT-PMP, cut short", {0, 0x80, 0}, PcpAnswerError::TooShort},
        {"version 1", Answer(1, 0x80, 0), PcpAnswerError::Version},
        {"our own request", Answer(2, 0x00, 0), PcpAnswerError::NotAnswer},
        {"MAP answer", Answer(2, 0x81, 0), PcpAnswerError::Opcode},
        {"one byte short", Answer(2, 0x80, 0, 7, 23), PcpAnswerError::TooShort},
        {"not a multiple of 4", Answer(2, 0x80, 0, 7, 26), PcpAnswerError::NotMultipleOf4},
        {"at the limit", Answer(2, 0x80, 0, 7, kPcpMaxMessageBytes), PcpAnswerError::None},
        {"past the limit", Answer(2, 0x80, 0, 7, kPcpMaxMessageBytes + 4), PcpAnswerError::TooLong},
        {"empty", {}, PcpAnswerError::TooShort},
    };
    for (const auto& c : cases) {
        const PcpAnswer answer = ParsePcpAnswer(c.bytes);
        EXPECT_EQ(answer.error, c.error) << c.name;
        EXPECT_EQ(answer.resultCode, c.result) << c.name;
        if (c.error == PcpAnswerError::None) {
            EXPECT_EQ(answer.lifetime, 60u) << c.name;
        }
    }
    EXPECT_EQ(ParsePcpAnswer(Answer(2, 0x80, 0, 0xA1B2C3D4)).epoch, 0xA1B2C3D4u);
    // Every cut of a whole answer is short, never read past.
    const std::vector<std::uint8_t> whole = Answer(2, 0x80, 0);
    for (std::size_t cut = 1; cut < whole.size(); ++cut) {
        const PcpAnswer answer = ParsePcpAnswer({whole.data(), cut});
        EXPECT_TRUE(answer.error == PcpAnswerError::TooShort) << cut;
    }
}

}  // namespace
}  // namespace lumidex
