// The program's own small HTTP/1.1 GET client over a plain TCP socket. Its users either only
// Connect (and Close) to learn whether a host takes TCP connections, or Get one file and take
// its body as text. No redirects, proxies, authentication, compression or TLS.
//
// One thread uses an object; the only call from another thread is Close, which ends a Connect
// pending on the first one at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "net/HttpLimits.h"
#include "net/HttpResponseReader.h"
#include "platform/Deadline.h"
#include "platform/TcpSocket.h"

namespace lumidex {

// Name to IPv4 address in network byte order, 0 when it does not resolve.
using HostResolver = std::function<std::uint32_t(const std::string& name)>;

struct HostAndPort {
    std::string name;
    std::uint16_t port = 0;

    bool operator==(const HostAndPort&) const = default;
};

class HttpGetClient {
public:
    // resolver empty: the system's look-up. Tests pass a short receive time-out and a resolver
    // of their own, so that nothing they do asks a real name server.
    explicit HttpGetClient(int receiveTimeoutMs = kDefaultReceiveTimeoutMs,
                           HostResolver resolver = {},
                           int connectTimeoutMs = platform::kDefaultConnectTimeoutMs);
    virtual ~HttpGetClient();
    HttpGetClient(const HttpGetClient&) = delete;
    HttpGetClient& operator=(const HttpGetClient&) = delete;

    // The bound on a whole Get (connect, request, response) and the clock it is measured by;
    // tests shorten it or hand in a clock of their own.
    void SetExchangeDeadline(int totalMs, platform::SteadyClock clock = {});
    // Reads at most this many bytes of each response, head and body together (0: only the
    // limits of HttpLimits.h); what arrived by then is judged as after a failed receive. For
    // callers that only look at the start of an answer.
    void SetResponseByteLimit(std::size_t bytes) { m_responseByteLimit = bytes; }

    // True when connected. port 0: host may carry ":port" behind the name, else 80. With a
    // socket already held (even after a failed attempt), true at once without connecting.
    bool Connect(std::string_view host, std::uint16_t port);
    // True when a socket was held and is now closed. Safe from another thread.
    bool Close();
    // Close for good, safe from another thread at any time, before the first Connect too:
    // every later Connect or Get fails at once (the connect counts as aborted).
    void Cancel() { m_socket.Cancel(); }
    // The status of the response (100 followed by another response: the other's), or 0 when no
    // request went out or no status came back. url: an absolute http URL, or with host given
    // the request target as it is sent. extraHeaders: header lines, each ending in "\r\n".
    int Get(std::string_view url, std::optional<std::string_view> extraHeaders = std::nullopt,
            std::optional<std::string_view> host = std::nullopt);

    // The last response's body, NUL-terminated; nullptr when none was read.
    const char* Body() const { return m_response.Body(); }
    std::int32_t BodyLength() const { return m_response.BodyLength(); }
    // The body as text: empty when absent.
    std::string_view BodyText() const;
    // BodyText handed over instead of copied (a body may run to tens of MiB); empty after.
    std::string TakeBody() { return m_response.TakeBody(); }
    bool ReadUntilClose() const { return m_response.ReadUntilClose(); }
    // Status line and header fields of the last response, as received.
    const std::string& HeaderText() const { return m_response.HeaderText(); }
    // Why the last response was ended early (None when it was not).
    ReadError LastError() const { return m_response.Error(); }
    platform::ConnectResult LastConnectResult() const { return m_lastConnect; }
    // Milliseconds from the start of the last Get to the first byte of its response; nullopt
    // when no byte arrived.
    std::optional<double> FirstByteMs() const;

    // host text and port as Connect understands them: with port 0, "name:port" behind a
    // colon after the first character (read as atoi does), else 80; a port of 0 becomes 80.
    static HostAndPort SplitHostPort(std::string_view host, std::uint16_t port);
    // A name that starts with a decimal digit is taken as a dotted address, never looked up.
    static bool IsDottedName(std::string_view name);
    // A dotted name as inet_addr reads it (0xFFFFFFFF when it is not one); other names go to
    // resolver.
    static std::uint32_t ResolveAddress(const std::string& name, const HostResolver& resolver);
    // True when the last connect attempt asked the resolver for its host name and got no
    // address, so that it connected nowhere.
    bool LastLookupFailed() const { return m_lastLookupFailed; }

private:
    bool ConnectWithin(std::string_view host, std::uint16_t port, int connectTimeoutMs);
    int ReadResponse(const platform::Deadline& deadline);

    platform::TcpSocket m_socket;
    bool m_lastLookupFailed = false;
    int m_receiveTimeoutMs;
    int m_connectTimeoutMs;
    int m_exchangeMs = kExchangeDeadlineMs;
    std::size_t m_responseByteLimit = 0;
    platform::SteadyClock m_clock;
    HostResolver m_resolver;
    ResponseReader m_response;
    platform::ConnectResult m_lastConnect = platform::ConnectResult::NotOpen;
    std::chrono::steady_clock::time_point m_getStarted;
    std::optional<std::chrono::steady_clock::time_point> m_firstByte;
};

}  // namespace lumidex
