// Reads one HTTP/1.1 response as the GET client receives it: status line, header fields, and
// the body in one of three modes (announced length, chunked, until the connection ends). Fed
// in pieces of any size, down to single bytes; MaxWanted says how much it can take without
// reading past the end of the response, so a client never swallows the next response.
//
// The reading is deliberately forgiving in the ways the servers of this program rely on (see
// the grammar comments in the .cpp); it is strict only where a value would not fit a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lumidex {

enum class ReadError {
    None,
    HeaderTooLong,          // status line and fields filled the header buffer
    NulInHeader,            // a zero byte in the header section
    ContentLengthNegative,  // "Content-length: -5"
    ContentLengthTooLarge,  // an announced body beyond kMaxBodyBytes
    ChunkLineTooLong,       // a chunk-size line that does not fit its buffer
    ChunkSizeNegative,      // "-5\r\n"
    BodyTooLong,            // chunks or bytes until close beyond kMaxBodyBytes
};

const char* DescribeReadError(ReadError error);

enum class BodyMode { None, Announced, Chunked, UntilClose };

class ResponseReader {
public:
    enum class Progress {
        NeedMore,   // the response goes on; feed more, or Finish when the connection ends
        Complete,   // the response ended where its own framing says
        Malformed,  // over a limit; Error() says which; what was read so far is kept
    };

    ResponseReader();

    // Consumes bytes up to the end of the response; consumed says how many.
    Progress Feed(std::string_view data, std::size_t& consumed);
    // The connection ended or went silent: settles the body the way each mode wants it.
    void Finish();
    // Bytes Feed can take without passing the end of the response (0 once it ended).
    std::size_t MaxWanted() const;

    // The status code, or 0 when the status line had no readable number or never came.
    int Status() const { return m_status; }
    const std::string& HeaderText() const { return m_header; }
    BodyMode Mode() const { return m_mode; }
    bool ReadUntilClose() const { return m_mode == BodyMode::UntilClose; }
    // The body, NUL-terminated, or nullptr when the response ended before any body began.
    const char* Body() const { return m_mode == BodyMode::None ? nullptr : m_body.c_str(); }
    std::int32_t BodyLength() const;
    // The body's BodyLength bytes, handed over instead of copied; Body() is empty afterwards.
    std::string TakeBody();
    ReadError Error() const { return m_error; }

private:
    enum class State {
        StatusLine,     // waiting for the first line's LF
        HeaderLine,     // waiting for a field line's LF, or the blank line ending the head
        AnnouncedBody,  // waiting for the rest of the announced length
        ChunkSizeLine,  // waiting for the LF of a chunk-size line
        ChunkData,      // waiting for the rest of a chunk's data
        ChunkDataEnd,   // waiting for the two bytes after a chunk's data
        UntilClose,     // taking everything until the connection ends
        Done,           // ended by its framing, or by Finish
        Failed,         // over a limit; m_error says which
    };

    Progress Fail(ReadError error);
    std::size_t TakeBytes(std::string_view data);
    std::size_t TakeAnnouncedBody(std::string_view data);
    void TakeChunkSizeByte(char c);
    std::size_t TakeChunkData(std::string_view data);
    std::size_t TakeChunkDataEnd(std::string_view data);
    std::size_t TakeUntilClose(std::string_view data);
    Progress TakeHeaderByte(char c);
    Progress EndHeaderLine();
    Progress ChooseBodyMode();
    Progress EndChunkSizeLine();
    Progress CurrentProgress() const;

    State m_state = State::StatusLine;
    ReadError m_error = ReadError::None;
    int m_status = 0;
    std::string m_header;
    std::size_t m_lineStart = 0;
    std::int32_t m_announced = 0;  // the first nonzero Content-length
    BodyMode m_mode = BodyMode::None;
    std::string m_body;
    std::string m_chunkLine;
    std::size_t m_chunkLeft = 0;
};

}  // namespace lumidex
