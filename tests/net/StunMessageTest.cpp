// Binding answers as servers write them and as they arrive damaged, in one table: what the
// parser takes from each, or which fault it names. Requests are read back as a server would.
#include "net/StunMessage.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace lumidex::stun {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr TransactionId kId = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

// The sample IPv4 answer of RFC 5769 2.2: SOFTWARE, XOR-MAPPED-ADDRESS, MESSAGE-INTEGRITY and
// FINGERPRINT, of which only the address is ours to read.
const Bytes kRfcSample = {
    0x01, 0x01, 0x00, 0x3c, 0x21, 0x12, 0xa4, 0x42, 0xb7, 0xe7, 0xa7, 0x01, 0xbc, 0x34, 0xd6, 0x86,
    0xfa, 0x87, 0xdf, 0xae, 0x80, 0x22, 0x00, 0x0b, 0x74, 0x65, 0x73, 0x74, 0x20, 0x76, 0x65, 0x63,
    0x74, 0x6f, 0x72, 0x20, 0x00, 0x20, 0x00, 0x08, 0x00, 0x01, 0xa1, 0x47, 0xe1, 0x12, 0xa6, 0x43,
    0x00, 0x08, 0x00, 0x14, 0x2b, 0x91, 0xf5, 0x99, 0xfd, 0x9e, 0x90, 0xc3, 0x8c, 0x74, 0x89, 0xf9,
    0x2a, 0xf9, 0xba, 0x53, 0xf0, 0x6b, 0xe7, 0xd7, 0x80, 0x28, 0x00, 0x04, 0xc0, 0x7d, 0x4c, 0x96};

const StunAddress kMapped{"198.51.100.7", 40000, false};
const StunAddress kMapped6{"2001:db8::1:2", 50000, true};
const StunAddress kOther{"203.0.113.9", 3479, false};

Bytes Answer(std::optional<StunAddress> mapped, std::optional<StunAddress> other = {},
             std::optional<StunAddress> origin = {}, bool legacy = false) {
    return WriteBindingAnswer({kId, true, mapped, other, origin, std::nullopt, legacy});
}

Bytes ErrorAnswer(std::optional<int> code) {
    return WriteBindingAnswer({kId, false, std::nullopt, std::nullopt, std::nullopt, code, false});
}

// An answer with one more attribute (type, value) put at the end, the length fixed up.
Bytes WithAttribute(Bytes bytes, std::uint16_t type, const Bytes& value, bool pad = true) {
    bytes.push_back(static_cast<std::uint8_t>(type >> 8));
    bytes.push_back(static_cast<std::uint8_t>(type));
    bytes.push_back(0);
    bytes.push_back(static_cast<std::uint8_t>(value.size()));
    bytes.insert(bytes.end(), value.begin(), value.end());
    while (pad && bytes.size() % 4 != 0) {
        bytes.push_back(0);
    }
    const std::size_t length = bytes.size() - kHeaderBytes;
    bytes[2] = static_cast<std::uint8_t>(length >> 8);
    bytes[3] = static_cast<std::uint8_t>(length);
    return bytes;
}

Bytes Set(Bytes bytes, std::size_t at, std::uint8_t value) {
    bytes[at] = value;
    return bytes;
}

Bytes Cut(Bytes bytes, std::size_t by) {
    bytes.resize(bytes.size() - by);
    return bytes;
}

struct Case {
    const char* name;
    Bytes bytes;
    AnswerError error;
    std::optional<StunAddress> mapped;
    std::optional<StunAddress> other;
    std::optional<int> errorCode;
    bool success;
};

Case Good(const char* name, Bytes bytes, std::optional<StunAddress> mapped,
          std::optional<StunAddress> other = {}) {
    return {name, std::move(bytes), AnswerError::None, mapped, other, std::nullopt, true};
}

Case Bad(const char* name, Bytes bytes, AnswerError error) {
    return {name, std::move(bytes), error, std::nullopt, std::nullopt, std::nullopt, false};
}

std::vector<Case> Cases() {
    const Bytes plain = Answer(kMapped);
    Bytes atLimit = plain;
    for (std::size_t i = 1; i < kMaxAttributes; ++i) {
        atLimit = WithAttribute(atLimit, 0x8022, {'x'});
    }
    const Bytes many = WithAttribute(atLimit, 0x8022, {'x'});
    Bytes longest = plain;
    while (longest.size() + 4 + 200 <= kMaxAnswerBytes) {
        longest = WithAttribute(longest, 0x8022, Bytes(200, 'x'));
    }
    return {
        Good("xor-mapped ipv4", plain, kMapped),
        Good("xor-mapped ipv6", Answer(kMapped6), kMapped6),
        Good("rfc 5769 sample", kRfcSample, StunAddress{"192.0.2.1", 32853, false}),
        Good("rfc 5780 other-address", Answer(kMapped, kOther, kOther), kMapped, kOther),
        Good("rfc 3489 mapped and changed address", Answer(kMapped, kOther, kOther, true), kMapped,
             kOther),
        Good("xor-mapped wins over mapped",
             WithAttribute(plain, 0x0001, {0, 1, 0, 80, 10, 0, 0, 1}), kMapped),
        {"error answer", ErrorAnswer(420), AnswerError::None, std::nullopt, std::nullopt, 420,
         false},
        Good("unknown attributes skipped",
             WithAttribute(WithAttribute(plain, 0x7777, {1, 2, 3}), 0xC001, {}), kMapped),
        Bad("empty datagram", {}, AnswerError::TooShort),
        Bad("header cut", Cut(plain, plain.size() - 19), AnswerError::TooShort),
        Bad("first bits set", Set(plain, 0, 0x41), AnswerError::NotStun),
        Bad("cookie wrong", Set(plain, 4, 0x22), AnswerError::BadCookie),
        Bad("length beyond the datagram", Cut(plain, 4), AnswerError::BadLength),
        Bad("length not whole words", WithAttribute(plain, 0x8022, {'a'}, false),
            AnswerError::BadLength),
        Bad("a request, not an answer", BindingRequest(kId), AnswerError::NotBindingAnswer),
        Bad("indication", Set(Set(plain, 0, 0x00), 1, 0x11), AnswerError::NotBindingAnswer),
        Bad("another method", Set(plain, 1, 0x02), AnswerError::NotBindingAnswer),
        Bad("attribute beyond the message", Set(plain, 23, 0x40), AnswerError::TooShort),
        Bad("address family unknown", Set(plain, 25, 0x03), AnswerError::BadAddress),
        Bad("address too short", WithAttribute(Answer(std::nullopt), 0x0020, {0, 1, 0, 80}),
            AnswerError::BadAddress),
        Bad("ipv6 family with an ipv4 length", Set(plain, 25, 0x02), AnswerError::BadAddress),
        Bad("error code cut", WithAttribute(ErrorAnswer(std::nullopt), 0x0009, {0, 0}),
            AnswerError::BadErrorCode),
        Good("attributes at the limit", atLimit, kMapped),
        Bad("attributes past the limit", many, AnswerError::TooManyAttributes),
        Good("the longest answer", longest, kMapped),
    };
}

TEST(StunMessage, AnswersReadAsWrittenOrNameTheirFault) {
    for (const Case& test : Cases()) {
        SCOPED_TRACE(test.name);
        const AnswerResult result = ParseBindingAnswer(test.bytes);
        EXPECT_EQ(result.error, test.error) << DescribeAnswerError(result.error);
        if (test.error != AnswerError::None) {
            continue;
        }
        EXPECT_EQ(result.answer.success, test.success);
        EXPECT_EQ(result.answer.mapped, test.mapped);
        EXPECT_EQ(result.answer.other, test.other);
        EXPECT_EQ(result.answer.errorCode, test.errorCode);
        // Cut anywhere, it is never taken for a whole answer.
        for (std::size_t size = 0; size < test.bytes.size(); ++size) {
            EXPECT_NE(ParseBindingAnswer({test.bytes.data(), size}).error, AnswerError::None)
                << "cut to " << size;
        }
    }
}

TEST(StunMessage, AnswerBeyondTheReceiveBufferIsRejected) {
    const Bytes plain = Answer(kMapped);
    EXPECT_EQ(ParseBindingAnswer(plain, kMaxAnswerBytes + 1).error, AnswerError::TooLong);
}

TEST(StunMessage, RequestsCarryTheirIdAndChangeFlags) {
    const ChangeRequest flags[] = {{false, false}, {true, true}, {false, true}, {true, false}};
    for (const ChangeRequest change : flags) {
        const Bytes request = BindingRequest(kId, change);
        EXPECT_EQ(request.size(), change.changeIp || change.changePort ? 28u : 20u);
        TransactionId id{};
        const auto read = ReadBindingRequest(request, id);
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(id, kId);
        EXPECT_EQ(read->changeIp, change.changeIp);
        EXPECT_EQ(read->changePort, change.changePort);
    }
    EXPECT_NE(NewTransactionId(), NewTransactionId());
}

}  // namespace
}  // namespace lumidex::stun
