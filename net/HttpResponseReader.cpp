#include "net/HttpResponseReader.h"

#include <algorithm>
#include <cstdint>

#include "net/HttpLimits.h"
#include "platform/AsciiCase.h"
#include "platform/AsciiChar.h"
#include "platform/LenientNumber.h"

namespace lumidex {
namespace {

using platform::HexDigit;
using platform::IsCSpace;

std::string_view TrimTrailingSpace(std::string_view text) {
    while (!text.empty() && IsCSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Reads a chunk size the way scanf's %x does: blanks, an optional sign, an optional "0x",
// hex digits up to the first other byte (extensions and CR LF follow). No digits at all reads
// as 0. The value is clamped just above kMaxBodyBytes, which is enough to refuse it.
struct ChunkSize {
    std::uint64_t value = 0;
    bool negative = false;
};
ChunkSize ReadChunkSize(std::string_view line) {
    ChunkSize size;
    std::size_t pos = 0;
    while (pos < line.size() && IsCSpace(line[pos])) {
        ++pos;
    }
    if (pos < line.size() && (line[pos] == '+' || line[pos] == '-')) {
        size.negative = line[pos] == '-';
        ++pos;
    }
    if (pos + 1 < line.size() && line[pos] == '0' && (line[pos + 1] | 0x20) == 'x' &&
        pos + 2 < line.size() && HexDigit(line[pos + 2]) >= 0) {
        pos += 2;
    }
    for (; pos < line.size() && HexDigit(line[pos]) >= 0; ++pos) {
        size.value = std::min<std::uint64_t>(size.value * 16 + HexDigit(line[pos]),
                                             std::uint64_t{kMaxBodyBytes} + 1);
    }
    size.negative = size.negative && size.value != 0;
    return size;
}

}  // namespace

const char* DescribeReadError(ReadError error) {
    switch (error) {
        case ReadError::None:
            return "no error";
        case ReadError::HeaderTooLong:
            return "header section longer than the header buffer";
        case ReadError::NulInHeader:
            return "zero byte in the header section";
        case ReadError::ContentLengthNegative:
            return "negative Content-length";
        case ReadError::ContentLengthTooLarge:
            return "Content-length beyond the body limit";
        case ReadError::ChunkLineTooLong:
            return "chunk-size line longer than its buffer";
        case ReadError::ChunkSizeNegative:
            return "negative chunk size";
        case ReadError::BodyTooLong:
            return "body beyond the body limit";
    }
    return "unknown error";
}

ResponseReader::ResponseReader() {
    m_header.reserve(256);
}

std::int32_t ResponseReader::BodyLength() const {
    switch (m_mode) {
        case BodyMode::None:
            return 0;
        case BodyMode::Announced:
            return m_announced;
        case BodyMode::Chunked:
        case BodyMode::UntilClose:
            break;
    }
    return static_cast<std::int32_t>(m_body.size());
}

std::string ResponseReader::TakeBody() {
    const std::size_t length = static_cast<std::size_t>(std::max<std::int32_t>(BodyLength(), 0));
    std::string body = std::move(m_body);
    m_body.clear();
    body.resize(std::min(body.size(), length));
    return body;
}

ResponseReader::Progress ResponseReader::Fail(ReadError error) {
    m_state = State::Failed;
    m_error = error;
    return Progress::Malformed;
}

ResponseReader::Progress ResponseReader::CurrentProgress() const {
    switch (m_state) {
        case State::Done:
            return Progress::Complete;
        case State::Failed:
            return Progress::Malformed;
        default:
            return Progress::NeedMore;
    }
}

std::size_t ResponseReader::MaxWanted() const {
    switch (m_state) {
        case State::StatusLine:
        case State::HeaderLine:
        case State::ChunkSizeLine:
            return 1;
        case State::AnnouncedBody:
            return static_cast<std::size_t>(m_announced) - m_body.size();
        case State::ChunkData:
            return m_chunkLeft;
        case State::ChunkDataEnd:
            return 2 - m_chunkLine.size();
        case State::UntilClose:
            // One byte past the limit is how a body that is too long shows itself.
            return std::min(kBodyGrowthBytes, kMaxBodyBytes + 1 - m_body.size());
        case State::Done:
        case State::Failed:
            break;
    }
    return 0;
}

ResponseReader::Progress ResponseReader::Feed(std::string_view data, std::size_t& consumed) {
    consumed = 0;
    while (consumed < data.size() && CurrentProgress() == Progress::NeedMore) {
        consumed += TakeBytes(data.substr(consumed));
    }
    return CurrentProgress();
}

// What the current state takes of data: at least one byte while the response goes on.
std::size_t ResponseReader::TakeBytes(std::string_view data) {
    switch (m_state) {
        case State::StatusLine:
        case State::HeaderLine:
            TakeHeaderByte(data[0]);
            return 1;
        case State::ChunkSizeLine:
            TakeChunkSizeByte(data[0]);
            return 1;
        case State::AnnouncedBody:
            return TakeAnnouncedBody(data);
        case State::ChunkData:
            return TakeChunkData(data);
        case State::ChunkDataEnd:
            return TakeChunkDataEnd(data);
        case State::UntilClose:
            return TakeUntilClose(data);
        case State::Done:
        case State::Failed:
            break;
    }
    return 0;
}

std::size_t ResponseReader::TakeAnnouncedBody(std::string_view data) {
    const std::size_t take = std::min(data.size(), MaxWanted());
    m_body.append(data.data(), take);
    if (MaxWanted() == 0) {
        m_state = State::Done;
    }
    return take;
}

void ResponseReader::TakeChunkSizeByte(char c) {
    m_chunkLine.push_back(c);
    if (c == '\n') {
        EndChunkSizeLine();
    } else if (m_chunkLine.size() >= kChunkLineBufferBytes) {
        // Its LF would be byte kChunkLineBufferBytes + 1.
        Fail(ReadError::ChunkLineTooLong);
    }
}

std::size_t ResponseReader::TakeChunkData(std::string_view data) {
    const std::size_t take = std::min(data.size(), m_chunkLeft);
    m_body.append(data.data(), take);
    m_chunkLeft -= take;
    if (m_chunkLeft == 0) {
        m_chunkLine.clear();
        m_state = State::ChunkDataEnd;
    }
    return take;
}

// The CR LF closing a chunk's data is dropped unchecked, as the servers expect.
std::size_t ResponseReader::TakeChunkDataEnd(std::string_view data) {
    const std::size_t take = std::min(data.size(), MaxWanted());
    m_chunkLine.append(data.data(), take);
    if (m_chunkLine.size() == 2) {
        m_chunkLine.clear();
        m_state = State::ChunkSizeLine;
    }
    return take;
}

std::size_t ResponseReader::TakeUntilClose(std::string_view data) {
    const std::size_t room = kMaxBodyBytes - m_body.size();
    const std::size_t take = std::min(data.size(), room);
    if (m_body.size() + take > m_body.capacity()) {
        m_body.reserve(std::min(m_body.capacity() + kBodyGrowthBytes, kMaxBodyBytes));
    }
    m_body.append(data.data(), take);
    if (take < data.size()) {
        Fail(ReadError::BodyTooLong);
    }
    return take;
}

// RFC 9112 2.1, 4 and 5 as this client reads them: lines end in LF (a CR before it is trailing
// white space); the status is the number after the first space of the first line; a field line
// is name ": " value, other lines are skipped; a zero byte anywhere is refused, since the
// header section is handled as a NUL-terminated text.
ResponseReader::Progress ResponseReader::TakeHeaderByte(char c) {
    if (c == '\0') {
        return Fail(ReadError::NulInHeader);
    }
    if (m_header.size() + 1 >= kHeaderBufferBytes) {
        return Fail(ReadError::HeaderTooLong);
    }
    m_header.push_back(c);
    if (c != '\n') {
        return Progress::NeedMore;
    }
    return EndHeaderLine();
}

ResponseReader::Progress ResponseReader::EndHeaderLine() {
    const std::string_view line = std::string_view(m_header).substr(m_lineStart);
    m_lineStart = m_header.size();
    if (m_state == State::StatusLine) {
        m_state = State::HeaderLine;
        const auto space = line.find(' ');
        if (space != std::string_view::npos) {
            m_status = LenientAtoi(line.substr(space + 1));
        }
        return Progress::NeedMore;
    }
    const std::string_view field = TrimTrailingSpace(line);
    if (field.empty()) {
        return ChooseBodyMode();
    }
    const auto separator = field.find(": ");
    if (separator == 0 || separator == std::string_view::npos) {
        return Progress::NeedMore;
    }
    // Only the first nonzero length counts; "Content-length: 0" counts as no length at all.
    if (m_announced != 0 || !platform::NamesEqual(field.substr(0, separator), "Content-length")) {
        return Progress::NeedMore;
    }
    const int length = LenientAtoi(field.substr(separator + 2));
    if (length < 0) {
        return Fail(ReadError::ContentLengthNegative);
    }
    if (static_cast<std::size_t>(length) > kMaxBodyBytes) {
        return Fail(ReadError::ContentLengthTooLarge);
    }
    m_announced = length;
    return Progress::NeedMore;
}

ResponseReader::Progress ResponseReader::ChooseBodyMode() {
    // A 100 (Continue) is only a herald: the real response follows it, and it has no body.
    if (m_status == 100) {
        m_state = State::Done;
        return Progress::Complete;
    }
    if (m_announced != 0) {
        m_mode = BodyMode::Announced;
        m_body.reserve(static_cast<std::size_t>(m_announced) + 1);
        m_state = State::AnnouncedBody;
        return Progress::NeedMore;
    }
    // "chunked" anywhere in the head, status line included, selects chunked coding.
    if (m_header.find("chunked") != std::string::npos) {
        m_mode = BodyMode::Chunked;
        m_body.reserve(kFirstChunkedBodyBytes);
        m_state = State::ChunkSizeLine;
        return Progress::NeedMore;
    }
    m_mode = BodyMode::UntilClose;
    m_body.reserve(kFirstUntilCloseBodyBytes);
    m_state = State::UntilClose;
    return Progress::NeedMore;
}

// RFC 9112 7.1: chunk-size [ chunk-ext ] CRLF, read leniently (see ReadChunkSize). Size 0
// ends the body; the trailer section after it is not read.
ResponseReader::Progress ResponseReader::EndChunkSizeLine() {
    const ChunkSize size = ReadChunkSize(m_chunkLine);
    m_chunkLine.clear();
    if (size.negative) {
        return Fail(ReadError::ChunkSizeNegative);
    }
    if (size.value == 0) {
        m_state = State::Done;
        return Progress::Complete;
    }
    if (size.value > kMaxBodyBytes - m_body.size()) {
        return Fail(ReadError::BodyTooLong);
    }
    const std::size_t needed = m_body.size() + static_cast<std::size_t>(size.value) + 2;
    if (needed >= m_body.capacity()) {
        m_body.reserve(needed + kBodyGrowthBytes);
    }
    m_chunkLeft = static_cast<std::size_t>(size.value);
    m_state = State::ChunkData;
    return Progress::NeedMore;
}

void ResponseReader::Finish() {
    switch (m_state) {
        case State::AnnouncedBody:
            // Cut short: the body keeps its announced length, the missing bytes zero.
            m_body.resize(static_cast<std::size_t>(m_announced), '\0');
            break;
        case State::Done:
        case State::Failed:
            return;
        default:
            break;
    }
    m_state = State::Done;
}

}  // namespace lumidex
