#include "net/HttpGetClient.h"

#include <arpa/inet.h>

#include <array>

#include "net/UrlSplitter.h"
#include "platform/HostLookup.h"
#include "platform/LenientNumber.h"

namespace lumidex {

HttpGetClient::HttpGetClient(int receiveTimeoutMs, HostResolver resolver, int connectTimeoutMs)
    : m_receiveTimeoutMs(receiveTimeoutMs),
      m_connectTimeoutMs(connectTimeoutMs),
      m_resolver(std::move(resolver)) {}

HttpGetClient::~HttpGetClient() {
    Close();
}

HostAndPort HttpGetClient::SplitHostPort(std::string_view host, std::uint16_t port) {
    HostAndPort out{std::string(host), port};
    if (port == 0) {
        const auto colon = host.find(':');
        if (colon != std::string_view::npos && colon > 0) {
            out.name = std::string(host.substr(0, colon));
            // The port field was 16 bits wide: larger numbers wrap, as they always did.
            out.port = static_cast<std::uint16_t>(LenientAtoi(host.substr(colon + 1)));
        }
    }
    if (out.port == 0) {
        out.port = kDefaultPort;
    }
    return out;
}

bool HttpGetClient::IsDottedName(std::string_view name) {
    return !name.empty() && name[0] >= '0' && name[0] <= '9';
}

std::uint32_t HttpGetClient::ResolveAddress(const std::string& name, const HostResolver& resolver) {
    if (IsDottedName(name)) {
        return ::inet_addr(name.c_str());
    }
    return resolver ? resolver(name) : platform::LookupHostIPv4(name);
}

void HttpGetClient::SetExchangeDeadline(int totalMs, platform::SteadyClock clock) {
    m_exchangeMs = totalMs;
    m_clock = std::move(clock);
}

bool HttpGetClient::Connect(std::string_view host, std::uint16_t port) {
    return ConnectWithin(host, port, m_connectTimeoutMs);
}

bool HttpGetClient::ConnectWithin(std::string_view host, std::uint16_t port, int connectTimeoutMs) {
    if (m_socket.IsOpen()) {
        return true;
    }
    if (!m_socket.Open()) {
        m_lastConnect = m_socket.Cancelled() ? platform::ConnectResult::Aborted
                                             : platform::ConnectResult::NotOpen;
        return false;
    }
    m_socket.SetReceiveTimeout(m_receiveTimeoutMs);
    const HostAndPort target = SplitHostPort(host, port);
    // A name that does not resolve gives 0.0.0.0, which the socket refuses to connect to.
    const std::uint32_t address = ResolveAddress(target.name, m_resolver);
    m_lastLookupFailed = address == 0 && !IsDottedName(target.name);
    m_lastConnect = m_socket.Connect(address, target.port, connectTimeoutMs);
    return m_lastConnect == platform::ConnectResult::Connected;
}

bool HttpGetClient::Close() {
    return m_socket.Close();
}

std::optional<double> HttpGetClient::FirstByteMs() const {
    if (!m_firstByte) {
        return std::nullopt;
    }
    return std::chrono::duration<double, std::milli>(*m_firstByte - m_getStarted).count();
}

std::string_view HttpGetClient::BodyText() const {
    const char* body = Body();
    if (body == nullptr) {
        return {};
    }
    return {body, static_cast<std::size_t>(BodyLength())};
}

int HttpGetClient::Get(std::string_view url, std::optional<std::string_view> extraHeaders,
                       std::optional<std::string_view> host) {
    m_getStarted = std::chrono::steady_clock::now();
    m_firstByte.reset();
    const platform::Deadline deadline(m_exchangeMs, m_clock);
    const int connectMs = deadline.WaitMs(m_connectTimeoutMs);
    std::string target;
    if (host) {
        if (!ConnectWithin(*host, 0, connectMs)) {
            return 0;
        }
        target = url;
    } else {
        SplitUrl split;
        if (!SplitUrlText(url, split) || split.service != UrlService::Http ||
            !ConnectWithin(split.server, split.port, connectMs)) {
            return 0;
        }
        target = std::move(split.object);
    }
    // RFC 9112 3: request-line = method SP request-target SP HTTP-version CRLF, then the
    // caller's fields and the blank line that ends the header section.
    std::string request = "GET " + target + " HTTP/1.1\r\n";
    if (extraHeaders) {
        request += *extraHeaders;
    }
    request += "\r\n";
    // The request buffer this client always had; a request that does not fit is not sent.
    if (request.size() >= kRequestBufferBytes) {
        return 0;
    }
    if (deadline.Passed()) {
        return 0;
    }
    m_socket.SetSendTimeout(deadline.WaitMs(platform::kSendStallTimeoutMs));
    if (!m_socket.SendAll(request, kMaxSendPieceBytes)) {
        return 0;
    }
    const int status = ReadResponse(deadline);
    if (status == 100) {
        return ReadResponse(deadline);
    }
    return status;
}

int HttpGetClient::ReadResponse(const platform::Deadline& deadline) {
    m_response = ResponseReader();
    std::array<char, kBodyGrowthBytes> buffer;
    std::size_t received = 0;
    for (;;) {
        std::size_t wanted = std::min(buffer.size(), m_response.MaxWanted());
        if (wanted == 0) {
            break;
        }
        if (m_responseByteLimit > 0) {
            if (received >= m_responseByteLimit) {
                m_response.Finish();
                break;
            }
            wanted = std::min(wanted, m_responseByteLimit - received);
        }
        // The exchange ran out of time: what arrived is judged as after a failed receive.
        if (deadline.Passed()) {
            m_response.Finish();
            break;
        }
        m_socket.SetReceiveTimeout(deadline.WaitMs(m_receiveTimeoutMs));
        // Never more than the response still needs: what follows belongs to the next one.
        const ssize_t got = m_socket.Receive(buffer.data(), wanted);
        if (got <= 0) {
            m_response.Finish();
            break;
        }
        received += static_cast<std::size_t>(got);
        if (!m_firstByte) {
            m_firstByte = std::chrono::steady_clock::now();
        }
        std::size_t consumed = 0;
        m_response.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(got)), consumed);
    }
    return m_response.Status();
}

}  // namespace lumidex
