#include "tools/kelvora-lab/HttpRequestParser.h"

#include <algorithm>

#include "tools/kelvora-lab/LabLimits.h"

namespace lumidex::lab {
namespace {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// tchar of RFC 9110: the characters allowed in a method and a field name.
bool IsTokenChar(char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
        return true;
    }
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar);
}

// Visible ASCII and bytes from 0x80 up; no controls, no space.
bool IsTargetChar(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte != 0x7F;
}

bool IsFieldValueChar(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte == '\t' || (byte >= 0x20 && byte != 0x7F);
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

const std::string* HttpRequest::Header(std::string_view name) const {
    for (const auto& [fieldName, value] : headers) {
        if (EqualsIgnoreCase(fieldName, name)) {
            return &value;
        }
    }
    return nullptr;
}

bool HttpRequest::WantsClose() const {
    const std::string* connection = Header("Connection");
    if (connection != nullptr && EqualsIgnoreCase(TrimBlanks(*connection), "close")) {
        return true;
    }
    if (version == "HTTP/1.0") {
        return connection == nullptr || !EqualsIgnoreCase(TrimBlanks(*connection), "keep-alive");
    }
    return false;
}

bool ParseDecimal(std::string_view text, std::size_t max, std::size_t& value) {
    if (text.empty()) {
        return false;
    }
    std::size_t result = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        const std::size_t digit = static_cast<std::size_t>(c - '0');
        if (result > (max - digit) / 10) {
            return false;
        }
        result = result * 10 + digit;
    }
    value = result;
    return true;
}

HttpRequestParser::Result HttpRequestParser::Fail(std::string reason) {
    m_state = State::Failed;
    m_error = std::move(reason);
    return Result::Malformed;
}

// Appends bytes to the current line until its CR LF; true when a whole line is in `line`.
// Accepted: any byte but NUL, CR and LF inside a line; the line ends with CR LF exactly.
bool HttpRequestParser::TakeLine(std::string_view data, std::size_t& pos, std::string& line) {
    while (pos < data.size()) {
        const char c = data[pos++];
        if (++m_headBytes > kMaxRequestHeadBytes) {
            Fail("request head longer than " + std::to_string(kMaxRequestHeadBytes) + " bytes");
            return false;
        }
        if (m_lineHasCr) {
            if (c != '\n') {
                Fail("CR not followed by LF");
                return false;
            }
            m_lineHasCr = false;
            line = std::move(m_line);
            m_line.clear();
            return true;
        }
        if (c == '\r') {
            m_lineHasCr = true;
            continue;
        }
        if (c == '\n') {
            Fail("line ended by LF without CR");
            return false;
        }
        if (c == '\0') {
            Fail("NUL byte in request head");
            return false;
        }
        if (m_line.size() >= kMaxHeaderLineBytes) {
            Fail("header line longer than " + std::to_string(kMaxHeaderLineBytes) + " bytes");
            return false;
        }
        m_line.push_back(c);
    }
    return false;
}

// request-line = method SP request-target SP "HTTP/" DIGIT "." DIGIT
bool HttpRequestParser::ParseRequestLine(const std::string& line) {
    const auto firstSpace = line.find(' ');
    const auto lastSpace = line.rfind(' ');
    if (firstSpace == std::string::npos || firstSpace == lastSpace) {
        Fail("request line is not three parts");
        return false;
    }
    const std::string_view method(line.data(), firstSpace);
    const std::string_view target(line.data() + firstSpace + 1, lastSpace - firstSpace - 1);
    const std::string_view version(line.data() + lastSpace + 1, line.size() - lastSpace - 1);
    if (!IsToken(method)) {
        Fail("bad method");
        return false;
    }
    if (target.empty() || !std::all_of(target.begin(), target.end(), IsTargetChar)) {
        Fail("bad request target");
        return false;
    }
    const bool versionOk = version.size() == 8 && version.substr(0, 5) == "HTTP/" &&
                           version[5] >= '0' && version[5] <= '9' && version[6] == '.' &&
                           version[7] >= '0' && version[7] <= '9';
    if (!versionOk) {
        Fail("bad HTTP version");
        return false;
    }
    m_request.method = method;
    m_request.target = target;
    m_request.version = version;
    return true;
}

// field-line = field-name ":" OWS field-value OWS; no folded continuation lines.
bool HttpRequestParser::ParseHeaderLine(const std::string& line) {
    if (line.front() == ' ' || line.front() == '\t') {
        Fail("folded header line");
        return false;
    }
    const auto colon = line.find(':');
    if (colon == std::string::npos) {
        Fail("header line without colon");
        return false;
    }
    const std::string_view name(line.data(), colon);
    if (!IsToken(name)) {
        Fail("bad header name");
        return false;
    }
    const std::string_view value = TrimBlanks(std::string_view(line).substr(colon + 1));
    if (!std::all_of(value.begin(), value.end(), IsFieldValueChar)) {
        Fail("control character in header value");
        return false;
    }
    if (m_request.headers.size() >= kMaxHeaderFields) {
        Fail("more than " + std::to_string(kMaxHeaderFields) + " header fields");
        return false;
    }
    m_request.headers.emplace_back(name, value);
    return true;
}

// Decides the body length: Content-Length (every copy the same strict decimal) or none.
bool HttpRequestParser::FinishHead() {
    if (m_request.Header("Transfer-Encoding") != nullptr) {
        Fail("request bodies with Transfer-Encoding are not accepted");
        return false;
    }
    bool seen = false;
    std::size_t length = 0;
    for (const auto& [name, value] : m_request.headers) {
        if (!EqualsIgnoreCase(name, "Content-Length")) {
            continue;
        }
        std::size_t parsed = 0;
        if (!ParseDecimal(value, m_maxBodyBytes, parsed)) {
            Fail("Content-Length not a number up to " + std::to_string(m_maxBodyBytes));
            return false;
        }
        if (seen && parsed != length) {
            Fail("conflicting Content-Length fields");
            return false;
        }
        seen = true;
        length = parsed;
    }
    m_bodyRemaining = length;
    m_state = length > 0 ? State::Body : State::Done;
    return true;
}

HttpRequestParser::Result HttpRequestParser::Feed(std::string_view data, std::size_t& consumed) {
    std::size_t pos = 0;
    consumed = 0;
    while (pos < data.size() || m_state == State::Done || m_state == State::Failed) {
        switch (m_state) {
            case State::Done:
                consumed = pos;
                return Result::Complete;
            case State::Failed:
                consumed = pos;
                return Result::Malformed;
            case State::RequestLine: {
                std::string line;
                if (!TakeLine(data, pos, line)) {
                    break;
                }
                // Empty lines before a request are tolerated (a previous body's stray CR LF).
                if (!line.empty() && ParseRequestLine(line)) {
                    m_state = State::HeaderLine;
                }
                break;
            }
            case State::HeaderLine: {
                std::string line;
                if (!TakeLine(data, pos, line)) {
                    break;
                }
                if (line.empty()) {
                    FinishHead();
                } else {
                    ParseHeaderLine(line);
                }
                break;
            }
            case State::Body: {
                const std::size_t take = std::min(m_bodyRemaining, data.size() - pos);
                m_request.body.append(data.substr(pos, take));
                pos += take;
                m_bodyRemaining -= take;
                if (m_bodyRemaining == 0) {
                    m_state = State::Done;
                }
                break;
            }
        }
    }
    consumed = pos;
    return Result::NeedMore;
}

}  // namespace lumidex::lab
