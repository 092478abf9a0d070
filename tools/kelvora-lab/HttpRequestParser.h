// Incremental parser of one HTTP/1.x request as the lab servers receive it: request line,
// header fields, and a body of Content-Length bytes. Fed in pieces of any size, down to one
// byte; says complete, need more, or malformed with the reason.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumidex::lab {

struct HttpRequest {
    std::string method;
    std::string target;
    std::string version;                                       // "HTTP/1.1"
    std::vector<std::pair<std::string, std::string>> headers;  // in arrival order
    std::string body;

    // The value of the first field with that name (ASCII case-insensitive), or nullptr.
    const std::string* Header(std::string_view name) const;
    // True when the client asked to close after this request (or speaks HTTP/1.0 without
    // asking to keep the connection).
    bool WantsClose() const;
};

class HttpRequestParser {
public:
    enum class Result { Complete, NeedMore, Malformed };

    explicit HttpRequestParser(std::size_t maxBodyBytes) : m_maxBodyBytes(maxBodyBytes) {}

    // Consumes bytes of data up to the end of the request; consumed tells how many, so bytes
    // of a following pipelined request stay with the caller. A failed parser stays failed.
    Result Feed(std::string_view data, std::size_t& consumed);

    const HttpRequest& Request() const { return m_request; }
    const std::string& Error() const { return m_error; }

private:
    enum class State {
        RequestLine,  // waiting for "METHOD SP target SP HTTP/x.y" CR LF
        HeaderLine,   // waiting for a "name: value" CR LF, or the empty line ending the head
        Body,         // waiting for the rest of Content-Length bytes
        Done,         // request complete
        Failed,       // malformed; m_error says why
    };

    Result Fail(std::string reason);
    bool TakeLine(std::string_view data, std::size_t& pos, std::string& line);
    bool ParseRequestLine(const std::string& line);
    bool ParseHeaderLine(const std::string& line);
    bool FinishHead();

    State m_state = State::RequestLine;
    std::size_t m_maxBodyBytes;
    std::size_t m_headBytes = 0;
    std::size_t m_bodyRemaining = 0;
    std::string m_line;
    bool m_lineHasCr = false;
    HttpRequest m_request;
    std::string m_error;
};

// Strict decimal: digits only, no sign, no blanks, no overflow past max.
bool ParseDecimal(std::string_view text, std::size_t max, std::size_t& value);

}  // namespace lumidex::lab
