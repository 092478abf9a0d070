// What the peer-reachability probes saw, before any verdict: the addresses STUN servers
// reported for one socket, what the router's port-mapping protocols answered, the hop past
// the gateway and this computer's IPv6. The probes fill it; P2pVerdict decides from it alone,
// so every decision can be tested from scripted observations.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/Diagnosis.h"

namespace lumidex {

// An address and port as a STUN server or a router reports it. The address is text ("a.b.c.d"
// or an IPv6 address without brackets) so that both families compare the same way.
struct TransportAddress {
    std::string address;
    std::uint16_t port = 0;

    friend bool operator==(const TransportAddress&, const TransportAddress&) = default;
};

// "a.b.c.d:port", "[v6]:port".
std::string ToString(const TransportAddress& address);

// The STUN tests, all from one UDP socket. A mapped address is absent when its test got no
// valid answer in its budget (or was not made); an answered flag is absent when its test was
// not made.
struct StunObservations {
    // Servers asked in order, "host:port", for the record.
    std::vector<std::string> servers;
    // The socket's own address as the route to server 1 chose it (the source address).
    std::optional<TransportAddress> local;
    // Binding to server 1, and to server 2 on another address.
    std::optional<TransportAddress> mapped1;
    std::optional<TransportAddress> mapped2;
    // OTHER-ADDRESS (or CHANGED-ADDRESS) of the server that supports the behaviour tests.
    std::optional<TransportAddress> otherAddress;
    // To that server's other address on its primary port, and on its other port.
    std::optional<TransportAddress> mappedOtherAddress;
    std::optional<TransportAddress> mappedOtherAddressAndPort;
    // Filtering tests at that server's primary address: answered from its other address and
    // port, or from its other port.
    std::optional<bool> changeIpAndPortAnswered;
    std::optional<bool> changePortAnswered;
    // Answers that were not STUN, or STUN with a wrong transaction id or a malformed body.
    int malformedAnswers = 0;
};

enum class PortMappingProtocol { Upnp, NatPmp, Pcp };

struct PortMappingAnswer {
    PortMappingProtocol protocol = PortMappingProtocol::Upnp;
    // The router answered the protocol at all.
    bool answered = false;
    // It answered and would map (UPnP: an IGD that is connected; NAT-PMP/PCP: result 0).
    bool available = false;
    // The external address it reports; empty when it reports none.
    std::string externalAddress;
    // PCP's ADDRESS_MISMATCH: the router saw another source address than the one we sent from.
    bool addressMismatch = false;
    // Its result or error code as text ("result 3", "UPnP error 501", "no answer").
    std::string detail;
};

// A UDP port of the running client, and whether the router maps it (UPnP only).
struct ClientPortMapping {
    std::uint16_t port = 0;
    bool mapped = false;
    std::string detail;
};

struct Ipv6Observations {
    // A global (2000::/3) address of an interface; empty when none has one.
    std::string globalAddress;
    // A STUN server answered over IPv6; absent when no server with an IPv6 address was asked.
    std::optional<bool> udpAnswered;
};

struct P2pObservations {
    StunObservations stun;
    std::vector<PortMappingAnswer> portMapping;  // one per protocol asked
    std::vector<ClientPortMapping> clientPorts;
    // The source of the time-exceeded answer to one echo sent with TTL 2; empty when none came.
    std::string hopPastGateway;
    // This computer's own IPv4 address on the default route.
    std::string localAddress;
    Ipv6Observations ipv6;
    // Every probe made, kinds "stun", "upnp", "nat-pmp", "pcp".
    std::vector<ProbeRecord> probes;
};

}  // namespace lumidex
