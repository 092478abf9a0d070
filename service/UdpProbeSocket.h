// The one UDP socket of the service probes: opened afresh for every run on any free port (or a
// given one), sends probe requests and reads probe replies with a bounded wait.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/UdpSocket.h"
#include "service/ProbeDatagram.h"
#include "service/ServerRecord.h"
#include "service/ServiceLimits.h"

namespace lumidex {

enum class ProbeReceive {
    Nothing,        // no socket, time-out or receive error
    Malformed,      // see ClassifyProbeReply
    NotProbeReply,  // well-formed, another type
    Accepted,       // a probe reply; sender says from where
};

struct ProbeReplyResult {
    ProbeReceive kind = ProbeReceive::Nothing;
    Ipv4Address sender;  // meaningful for Accepted
};

class UdpProbeSocket {
public:
    // The wait per reply is a parameter only so that tests need not wait seconds for each
    // silent server.
    explicit UdpProbeSocket(std::chrono::milliseconds receiveTimeout = kProbeReceiveTimeout)
        : m_receiveTimeout(receiveTimeout) {}

    // True when a bound socket is ready; 0 means any free port. A socket already open on
    // another local port than the one asked for (always so for 0) is closed and a new one
    // opened, so nothing queued for an earlier run is read by this one.
    bool Open(std::uint16_t port);
    void Close() { m_socket.Close(); }
    // From another thread: ends the reply being waited for and every later send and receive
    // (see platform::UdpSocket::Shutdown); a later Open starts afresh.
    void Cancel() { m_socket.Shutdown(); }
    bool IsOpen() const { return m_socket.IsOpen(); }
    std::uint16_t LocalPort() const { return m_localPort; }

    // True when the request was handed to the network.
    bool SendProbeRequest(const ServerRecord& server);
    // Waits for one datagram and says what it was.
    ProbeReplyResult ReceiveProbeReply();

private:
    platform::UdpSocket m_socket;
    std::uint16_t m_localPort = 0;
    std::chrono::milliseconds m_receiveTimeout;
};

}  // namespace lumidex
