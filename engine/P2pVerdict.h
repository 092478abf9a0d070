// How well peers can reach this computer, decided from what the peer-reachability probes saw:
// the NAT's mapping and filtering behaviour, port mapping on the router, double and
// carrier-grade NAT, one verdict word, and the problems that explain it. Pure functions of the
// observations, so that every decision is tested from scripted answers.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Diagnosis.h"
#include "engine/P2pObservations.h"

namespace lumidex {

enum class NatMapping {
    None,  // no NAT: the server saw the socket's own address
    EndpointIndependent,
    AddressDependent,
    AddressAndPortDependent,
    EndpointDependent,  // varies by destination, finer tests not possible
    Unknown,
};

enum class NatFiltering { EndpointIndependent, AddressDependent, AddressAndPortDependent, Unknown };

enum class P2pVerdict { Blocked, Open, Moderate, Strict, Unknown };

// The JSON's names ("endpoint_independent", "open", ...).
std::string_view NatMappingName(NatMapping mapping);
std::string_view NatFilteringName(NatFiltering filtering);
std::string_view P2pVerdictName(P2pVerdict verdict);
// The word the window and the console show (开放, 严格, ...).
std::string_view P2pVerdictWord(P2pVerdict verdict);
std::string_view PortMappingProtocolName(PortMappingProtocol protocol);

struct P2pResult {
    P2pVerdict verdict = P2pVerdict::Unknown;
    // UDP leaves this network: a STUN server, a channel server or a tracker answered.
    bool udp = false;
    // What the first STUN server that answered saw of the socket.
    std::optional<TransportAddress> mappedAddress;
    NatMapping mapping = NatMapping::Unknown;
    NatFiltering filtering = NatFiltering::Unknown;
    std::vector<PortMappingAnswer> portMapping;
    bool doubleNat = false;
    bool carrierGradeNat = false;
    Ipv6Observations ipv6;
    std::vector<Problem> problems;
    std::vector<ProbeRecord> probes;
};

NatMapping DecideMapping(const StunObservations& stun);
NatFiltering DecideFiltering(const StunObservations& stun);
// An IPv4 address peers on the Internet cannot reach: private, shared (100.64.0.0/10),
// loopback, link-local, documentation, benchmarking, multicast or reserved. Text that is no
// dotted IPv4 address counts too: it is no address a peer could use.
bool IsNonPublicIpv4(std::string_view address);
bool IsSharedAddressSpace(std::string_view address);
// serviceUdpAnswered: a channel server or a tracker answered this run.
P2pResult DecideP2p(const P2pObservations& observations, bool serviceUdpAnswered);

// The notes' line "\r\nP2P连通性:WORD" and a line per next step of the P2P problems; empty
// without a result (a stopped run).
std::string P2pNotesLines(const std::optional<P2pResult>& result);

}  // namespace lumidex
