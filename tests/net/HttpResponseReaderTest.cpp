// The response reader fed whole, byte by byte and cut at every point: the result may not
// depend on how the bytes arrive, every limit holds at its value and gives way one past it.
#include "net/HttpResponseReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HttpResponseFuzz.h"
#include "net/HttpLimits.h"

namespace lumidex {
namespace {

using Progress = ResponseReader::Progress;
using lumidex::testing::ReadResponseInPieces;
using lumidex::testing::ResponseRead;

// What a case must come to; consumed and header are the harness's to compare between feeds.
struct Expected {
    Progress progress = Progress::NeedMore;  // before Finish
    int status = 0;
    bool hasBody = false;
    std::string body;
    BodyMode mode = BodyMode::None;
    ReadError error = ReadError::None;
};

struct Case {
    const char* name;
    std::string input;
    Expected expected;
    // Bytes left after the reader stopped: what follows a response (the real answer after a
    // 100, a pipelined one) is not taken, nor is what follows a malformed byte.
    std::size_t unread = 0;
};

const std::string kOk = "HTTP/1.1 200 OK\r\n";

std::vector<Case> Cases() {
    const std::string chunked = kOk + "Transfer-Encoding: chunked\r\n\r\n";
    const std::string head7 = "HTTP/1.1 200 OK\r\nX: ";  // 20 bytes
    // A header section of exactly kHeaderBufferBytes - 1 bytes, blank line included.
    const std::string fullHead =
        head7 + std::string(kHeaderBufferBytes - 1 - head7.size() - 4, 'h') + "\r\n\r\n";
    return {
        {"length, field name in any case",
         kOk + "cOnTeNt-LeNgTh: 5\r\n\r\nhello",
         {Progress::Complete, 200, true, "hello", BodyMode::Announced, ReadError::None},
         0},
        {"only the first nonzero length counts",
         kOk + "Content-length: 0\r\nContent-length: 3\r\nContent-length: 5\r\n\r\nabcde",
         {Progress::Complete, 200, true, "abc", BodyMode::Announced, ReadError::None},
         2},
        {"announced body cut short keeps its length, zero-filled",
         kOk + "Content-Length: 5\r\n\r\nab",
         {Progress::NeedMore, 200, true, std::string("ab\0\0\0", 5), BodyMode::Announced,
          ReadError::None},
         0},
        {"chunks of 5 and a",
         chunked + "5\r\nhello\r\na;x=y\r\n0123456789\r\n0\r\n\r\n",
         {Progress::Complete, 200, true, "hello0123456789", BodyMode::Chunked, ReadError::None},
         2},
        {"chunked anywhere in the head",
         "HTTP/1.1 200 chunked\r\n\r\n0x3\r\nabc\r\nzz\r\n",
         {Progress::Complete, 200, true, "abc", BodyMode::Chunked, ReadError::None},
         0},
        {"chunk cut short keeps its data",
         chunked + "a\r\n01234",
         {Progress::NeedMore, 200, true, "01234", BodyMode::Chunked, ReadError::None},
         0},
        {"until close; length 0 counts as none",
         kOk + "Content-Length: 0\r\n\r\nabc",
         {Progress::NeedMore, 200, true, "abc", BodyMode::UntilClose, ReadError::None},
         0},
        {"lines without \": \" are skipped",
         kOk + "Content-Length:5\r\nnoise\r\n\r\nabcdefg",
         {Progress::NeedMore, 200, true, "abcdefg", BodyMode::UntilClose, ReadError::None},
         0},
        {"status line without a space",
         "HTTP/1.1\r\nContent-Length: 2\r\n\r\nok",
         {Progress::Complete, 0, true, "ok", BodyMode::Announced, ReadError::None},
         0},
        {"100 ends at its blank line",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n",
         {Progress::Complete, 100, false, "", BodyMode::None, ReadError::None},
         17},
        {"cut inside the head",
         kOk + "Content-Le",
         {Progress::NeedMore, 200, false, "", BodyMode::None, ReadError::None},
         0},
        {"header section at the buffer's size",
         fullHead + "rest",
         {Progress::NeedMore, 200, true, "rest", BodyMode::UntilClose, ReadError::None},
         0},
        {"header section one past it",
         head7 + "h" + fullHead.substr(head7.size()),
         {Progress::Malformed, 200, false, "", BodyMode::None, ReadError::HeaderTooLong},
         0},
        {"zero byte in the head",
         kOk + std::string("X: a\0b\r\n\r\n", 10),
         {Progress::Malformed, 200, false, "", BodyMode::None, ReadError::NulInHeader},
         5},
        {"negative length",
         kOk + "Content-Length: -5\r\n\r\nhello",
         {Progress::Malformed, 200, false, "", BodyMode::None, ReadError::ContentLengthNegative},
         7},
        {"length one past the body limit",
         kOk + "Content-Length: 67108865\r\n\r\n",
         {Progress::Malformed, 200, false, "", BodyMode::None, ReadError::ContentLengthTooLarge},
         2},
        {"length beyond int",
         kOk + "Content-Length: 99999999999999999999\r\n\r\n",
         {Progress::Malformed, 200, false, "", BodyMode::None, ReadError::ContentLengthTooLarge},
         2},
        {"chunk-size line of 20 bytes",
         chunked + "3;" + std::string(16, 'a') + "\r\nabc\r\n0\r\n",
         {Progress::Complete, 200, true, "abc", BodyMode::Chunked, ReadError::None},
         0},
        {"chunk-size line of 21 bytes",
         chunked + "3;" + std::string(17, 'a') + "\r\nabc\r\n0\r\n",
         {Progress::Malformed, 200, true, "", BodyMode::Chunked, ReadError::ChunkLineTooLong},
         9},
        {"negative chunk",
         chunked + "2\r\nab\r\n-5\r\nhello\r\n",
         {Progress::Malformed, 200, true, "ab", BodyMode::Chunked, ReadError::ChunkSizeNegative},
         7},
        {"chunks beyond the body limit",
         chunked + "2\r\nab\r\n3ffffff\r\n",
         {Progress::Malformed, 200, true, "ab", BodyMode::Chunked, ReadError::BodyTooLong},
         0},
        {"chunk size beyond any integer",
         chunked + "ffffffffffffffff\r\n",
         {Progress::Malformed, 200, true, "", BodyMode::Chunked, ReadError::BodyTooLong},
         0},
        {"unreadable chunk size ends the body",
         chunked + "2\r\nab\r\nzz\r\nmore",
         {Progress::Complete, 200, true, "ab", BodyMode::Chunked, ReadError::None},
         4},
    };
}

TEST(HttpResponseReaderTest, ResultDoesNotDependOnHowTheBytesArrive) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        const ResponseRead whole = ReadResponseInPieces(c.input, 0, c.input.size());
        EXPECT_EQ(whole.broken, "");
        EXPECT_EQ(whole.progress, c.expected.progress);
        EXPECT_EQ(whole.consumed, c.input.size() - c.unread);
        EXPECT_EQ(whole.status, c.expected.status);
        EXPECT_EQ(whole.hasBody, c.expected.hasBody);
        EXPECT_EQ(whole.body, c.expected.body);
        EXPECT_EQ(whole.mode, c.expected.mode);
        EXPECT_EQ(whole.error, c.expected.error) << DescribeReadError(whole.error);
        EXPECT_EQ(ReadResponseInPieces(c.input, 0, 1), whole) << "byte by byte";
        for (std::size_t cut = 1; cut < c.input.size(); cut += 1 + c.input.size() / 97) {
            ASSERT_EQ(ReadResponseInPieces(c.input, cut, c.input.size()), whole)
                << "cut at " << cut;
        }
    }
}

TEST(HttpResponseReaderTest, BodiesAtTheLimitAreTakenAndOnePastItAreCut) {
    ResponseReader announced;
    std::size_t consumed = 0;
    const std::string head = kOk + "Content-Length: 67108864\r\n\r\n";
    EXPECT_EQ(announced.Feed(head, consumed), Progress::NeedMore);
    EXPECT_EQ(announced.MaxWanted(), kMaxBodyBytes);

    ResponseReader untilClose;
    ASSERT_EQ(untilClose.Feed(kOk + "\r\n", consumed), Progress::NeedMore);
    const std::string block(1 << 20, 'x');
    for (std::size_t i = 0; i < kMaxBodyBytes / block.size(); ++i) {
        ASSERT_EQ(untilClose.Feed(block, consumed), Progress::NeedMore);
    }
    EXPECT_EQ(untilClose.BodyLength(), static_cast<std::int32_t>(kMaxBodyBytes));
    EXPECT_EQ(untilClose.Feed("y", consumed), Progress::Malformed);
    EXPECT_EQ(consumed, 0u);
    EXPECT_EQ(untilClose.Error(), ReadError::BodyTooLong);
    EXPECT_EQ(untilClose.BodyLength(), static_cast<std::int32_t>(kMaxBodyBytes));
    EXPECT_STREQ(DescribeReadError(untilClose.Error()), "body beyond the body limit");
}

}  // namespace
}  // namespace lumidex
