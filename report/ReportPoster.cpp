#include "report/ReportPoster.h"

#include <arpa/inet.h>

#include <cctype>
#include <charconv>

#include "platform/AsciiCase.h"
#include "platform/HostLookup.h"

namespace lumidex {
namespace {

// host: a dotted address when it starts with a digit, otherwise a name to look up. 0 when
// neither gives an address: the socket refuses 0.0.0.0, so the connect fails rather than
// reach this machine itself (which is what 0.0.0.0 means to a Linux connect).
std::uint32_t ResolveHost(const std::string& host) {
    if (!host.empty() && std::isdigit(static_cast<unsigned char>(host[0]))) {
        in_addr address{};
        return ::inet_aton(host.c_str(), &address) != 0 ? address.s_addr : 0;
    }
    return platform::LookupHostIPv4(host);
}

}  // namespace

// url = "http://" host [":" port] [object]; object starts with "/" (query included).
std::optional<HttpUrl> ParseHttpUrl(std::string_view url) {
    constexpr std::string_view kScheme = "http://";
    if (url.size() < kScheme.size() ||
        !platform::NamesEqual(url.substr(0, kScheme.size()), kScheme)) {
        return std::nullopt;
    }
    url.remove_prefix(kScheme.size());
    HttpUrl parsed;
    const std::size_t slash = url.find('/');
    std::string_view authority = url.substr(0, slash);
    if (slash != std::string_view::npos) {
        parsed.object = std::string(url.substr(slash));
    }
    const std::size_t colon = authority.find(':');
    if (colon != std::string_view::npos) {
        const std::string_view portText = authority.substr(colon + 1);
        unsigned port = 0;
        const auto [end, error] =
            std::from_chars(portText.data(), portText.data() + portText.size(), port);
        if (error != std::errc() || end != portText.data() + portText.size() || port == 0 ||
            port > 0xFFFF) {
            return std::nullopt;
        }
        parsed.port = static_cast<std::uint16_t>(port);
        authority = authority.substr(0, colon);
    }
    if (authority.empty()) {
        return std::nullopt;
    }
    parsed.host = std::string(authority);
    return parsed;
}

int RecognizeStatus(std::string_view response) {
    int status = kStatusNone;
    if (response.find("200 OK") != std::string_view::npos) {
        status = kStatusOk;
    }
    if (response.find("302 ") != std::string_view::npos) {
        status = kStatusFound;
    }
    return status;
}

std::string BuildPostHeader(const std::string& host, const std::string& object,
                            std::size_t bodyLength) {
    return "POST " + object + " HTTP/1.1\r\nHost: " + host +
           "\r\nAccept: */*\r\nContent-Type: */*\r\n"
           "User-Agent: CrashReport/1.0\r\nContent-Length: " +
           std::to_string(bodyLength) + "\r\nConnection: close\r\nCache-Control: no-cache\r\n\r\n";
}

std::string BuildPostRequest(const std::string& host, const std::string& object,
                             std::string_view body) {
    std::string request = BuildPostHeader(host, object, body.size());
    request.append(body);
    request += "\r\n";
    return request;
}

bool PostConnection::Connect(const std::string& host, std::uint16_t port) {
    if (m_connected) {
        return true;
    }
    if (!m_socket.Open()) {
        return false;
    }
    m_socket.SetSendTimeout(m_timeouts.sendMs);
    m_socket.SetReceiveTimeout(m_timeouts.receiveMs);
    m_connected = m_socket.Connect(ResolveHost(host), port, m_timeouts.connectMs) ==
                  platform::ConnectResult::Connected;
    return true;
}

int PostConnection::SendPost(const std::string& host, const std::string& object,
                             std::string_view body) {
    m_response.clear();
    if (!m_connected || !m_socket.SendAll(BuildPostRequest(host, object, body), kSendPieceBytes)) {
        return kStatusNone;
    }
    std::string buffer(kResponseBufferBytes, '\0');
    std::size_t total = 0;
    // The bound covers the whole answer, so a server that drips it cannot hold the window. A
    // time-out is a receive error like any other: the reading ends and what arrived is judged.
    const platform::Deadline answer(m_timeouts.receiveMs, m_timeouts.clock);
    while (total < kResponseMaxBytes && !answer.Passed()) {
        m_socket.SetReceiveTimeout(answer.WaitMs(m_timeouts.receiveMs));
        std::size_t received = 0;
        if (m_socket.Receive(buffer.data() + total, kResponseMaxBytes - total, received) !=
            platform::ReceiveResult::Data) {
            break;
        }
        total += received;
    }
    m_response = buffer.c_str();
    return RecognizeStatus(m_response);
}

void PostConnection::Close() {
    m_socket.Close();
    m_connected = false;
}

int ReportPoster::Post(std::string_view body, std::string_view url) {
    m_response.clear();
    const auto parsed = ParseHttpUrl(url);
    if (!parsed) {
        return kStatusNone;
    }
    PostConnection connection(m_timeouts);
    if (!connection.Connect(parsed->host, parsed->port)) {
        return kStatusNone;
    }
    const int status = connection.SendPost(parsed->host, parsed->object, body);
    m_response = connection.Response();
    connection.Close();
    return status;
}

}  // namespace lumidex
