#include "service/UdpProbeSocket.h"

#include <array>

namespace lumidex {

bool UdpProbeSocket::Open(std::uint16_t port) {
    // The bound port is never 0, so every run's Open(0) starts on a fresh socket: datagrams
    // that reached the old one after its run (a slow server's late answer) go with it and
    // cannot pass for an answer to this run's probes.
    if (m_socket.IsOpen() && port != m_localPort) {
        m_socket.Close();
    }
    if (m_socket.IsOpen()) {
        return true;
    }
    if (port != 0) {
        m_localPort = port;
    }
    std::uint16_t bindPort = port != 0 ? m_localPort : 0;
    bool bound = false;
    for (int attempt = 0; attempt < kProbeBindAttempts && !bound; ++attempt) {
        if (attempt > 0 && bindPort != 0) {
            ++bindPort;
        }
        bound = !m_socket.Open({{0, 0, 0, 0}, bindPort}).has_value();
    }
    if (!bound) {
        return false;
    }
    const auto local = m_socket.LocalEndpoint();
    if (!local) {
        m_socket.Close();
        return false;
    }
    m_localPort = local->port;
    // Without the time-out a silent server would hold the run for ever.
    if (m_socket.SetReceiveTimeout(m_receiveTimeout)) {
        m_socket.Close();
        return false;
    }
    return true;
}

bool UdpProbeSocket::SendProbeRequest(const ServerRecord& server) {
    if (!m_socket.IsOpen()) {
        return false;
    }
    const auto request = BuildProbeRequest(server);
    std::size_t sent = 0;
    if (m_socket.SendTo(request, {server.address.bytes, server.port}, &sent)) {
        return false;
    }
    return sent > 0;
}

ProbeReplyResult UdpProbeSocket::ReceiveProbeReply() {
    if (!m_socket.IsOpen()) {
        return {};
    }
    std::array<std::uint8_t, kMaxProbeReplyBytes> buffer{};
    const auto datagram = m_socket.ReceiveFrom(buffer);
    // An empty datagram and one that does not fit the buffer are read errors, as on Windows.
    if (!datagram || datagram->size == 0 || datagram->size > buffer.size()) {
        return {};
    }
    switch (ClassifyProbeReply(std::span(buffer.data(), datagram->size))) {
        case ProbeReplyKind::Malformed:
            return {ProbeReceive::Malformed, {}};
        case ProbeReplyKind::NotProbeReply:
            return {ProbeReceive::NotProbeReply, {}};
        case ProbeReplyKind::Reply:
            break;
    }
    return {ProbeReceive::Accepted, Ipv4Address{datagram->sender.address}};
}

}  // namespace lumidex
