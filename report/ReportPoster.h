// Sending a report: one HTTP POST to the report server over a connection of its own, and the
// two answers that count as accepted (a response holding "200 OK" or "302 ").
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Deadline.h"
#include "platform/TcpSocket.h"
#include "report/ReportLimits.h"

namespace lumidex {

inline constexpr int kStatusNone = 0;
inline constexpr int kStatusOk = 200;
inline constexpr int kStatusFound = 302;

// How long the exchange may wait for the peer, and the clock the answer's bound is measured
// by; tests shorten them or hand in a clock of their own.
struct ExchangeTimeouts {
    int connectMs = kConnectTimeoutMs;
    int sendMs = kSendTimeoutMs;
    int receiveMs = kReceiveTimeoutMs;  // each wait for the answer, and the whole answer
    platform::SteadyClock clock;
};

// http://host[:port][/object]; the scheme in any letter case, port 80 by default.
struct HttpUrl {
    std::string host;
    std::uint16_t port = 80;
    std::string object = "/";
};
std::optional<HttpUrl> ParseHttpUrl(std::string_view url);

// 200 when the text holds "200 OK", 302 when it holds "302 " (that test wins), else 0.
int RecognizeStatus(std::string_view response);

// "POST <object> HTTP/1.1" with the fixed header fields, up to and including the blank line
// that ends them.
std::string BuildPostHeader(const std::string& host, const std::string& object,
                            std::size_t bodyLength);
// The header, the body and a closing CR LF that Content-Length does not count.
std::string BuildPostRequest(const std::string& host, const std::string& object,
                             std::string_view body);

class PostConnection {
public:
    explicit PostConnection(ExchangeTimeouts timeouts = {}) : m_timeouts(timeouts) {}

    // False only when no socket can be created; a refused or unreachable peer shows later
    // as a failed send.
    bool Connect(const std::string& host, std::uint16_t port);
    // Sends the request and reads the answer until the peer closes, a receive fails, the
    // answer's time bound passes, or kResponseMaxBytes arrived. Returns the status recognised
    // in what arrived.
    int SendPost(const std::string& host, const std::string& object, std::string_view body);
    void Close();
    // The response as a C string would hold it: up to the first NUL byte.
    const std::string& Response() const { return m_response; }

private:
    ExchangeTimeouts m_timeouts;
    platform::TcpSocket m_socket;
    bool m_connected = false;
    std::string m_response;
};

class ReportPoster {
public:
    explicit ReportPoster(ExchangeTimeouts timeouts = {}) : m_timeouts(timeouts) {}

    // One POST of body to url. Returns 200, 302, or 0 for anything else (not an http URL,
    // no socket, no connection, no recognisable answer).
    int Post(std::string_view body, std::string_view url);
    const std::string& LastResponse() const { return m_response; }

private:
    ExchangeTimeouts m_timeouts;
    std::string m_response;
};

}  // namespace lumidex
