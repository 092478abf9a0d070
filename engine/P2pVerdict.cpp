#include "engine/P2pVerdict.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/Ipv4Block.h"

namespace lumidex {
namespace {

using platform::Ipv4Block;
using platform::ParseIpv4;
using platform::Quad;

constexpr Ipv4Block kSharedAddressSpace{Quad(100, 64, 0, 0), 10};

constexpr Ipv4Block kNonPublicBlocks[] = {
    {Quad(0, 0, 0, 0), 8},     {Quad(10, 0, 0, 0), 8},      kSharedAddressSpace,
    {Quad(127, 0, 0, 0), 8},   {Quad(169, 254, 0, 0), 16},  {Quad(172, 16, 0, 0), 12},
    {Quad(192, 0, 0, 0), 24},  {Quad(192, 0, 2, 0), 24},    {Quad(192, 168, 0, 0), 16},
    {Quad(198, 18, 0, 0), 15}, {Quad(198, 51, 100, 0), 24}, {Quad(203, 0, 113, 0), 24},
    {Quad(224, 0, 0, 0), 4},   {Quad(240, 0, 0, 0), 4},
};

bool Dependent(NatMapping mapping) {
    return mapping == NatMapping::AddressDependent ||
           mapping == NatMapping::AddressAndPortDependent ||
           mapping == NatMapping::EndpointDependent;
}

bool AnyStunAnswer(const StunObservations& stun) {
    return stun.mapped1 || stun.mapped2 || stun.mappedOtherAddress ||
           stun.mappedOtherAddressAndPort || stun.changeIpAndPortAnswered.value_or(false) ||
           stun.changePortAnswered.value_or(false);
}

void AddOnce(std::vector<std::string>& list, std::string value) {
    if (!value.empty() && std::find(list.begin(), list.end(), value) == list.end()) {
        list.push_back(std::move(value));
    }
}

// Where the router was asked, for the port-mapping problems' targets.
std::vector<std::string> PortMappingTargets(const P2pObservations& observations) {
    std::vector<std::string> targets;
    for (const ProbeRecord& probe : observations.probes) {
        if (probe.kind == ProbeKind::Upnp || probe.kind == ProbeKind::NatPmp ||
            probe.kind == ProbeKind::Pcp) {
            AddOnce(targets, probe.target);
        }
    }
    return targets;
}

// A mapping on the router peers can use: the router maps, and the address it maps on is the
// one the Internet sees. Behind a second NAT the mapping only opens the inner router.
bool UsablePortMapping(const P2pObservations& observations,
                       const std::optional<TransportAddress>& mapped) {
    if (!mapped) {
        return false;
    }
    return std::any_of(observations.portMapping.begin(), observations.portMapping.end(),
                       [&](const PortMappingAnswer& answer) {
                           return answer.available && !answer.externalAddress.empty() &&
                                  answer.externalAddress == mapped->address;
                       });
}

}  // namespace

std::string_view NatMappingName(NatMapping mapping) {
    switch (mapping) {
        case NatMapping::None:
            return "none";
        case NatMapping::EndpointIndependent:
            return "endpoint_independent";
        case NatMapping::AddressDependent:
            return "address_dependent";
        case NatMapping::AddressAndPortDependent:
            return "address_and_port_dependent";
        case NatMapping::EndpointDependent:
            return "endpoint_dependent";
        case NatMapping::Unknown:
            break;
    }
    return "unknown";
}

std::string_view NatFilteringName(NatFiltering filtering) {
    switch (filtering) {
        case NatFiltering::EndpointIndependent:
            return "endpoint_independent";
        case NatFiltering::AddressDependent:
            return "address_dependent";
        case NatFiltering::AddressAndPortDependent:
            return "address_and_port_dependent";
        case NatFiltering::Unknown:
            break;
    }
    return "unknown";
}

std::string_view P2pVerdictName(P2pVerdict verdict) {
    switch (verdict) {
        case P2pVerdict::Blocked:
            return "blocked";
        case P2pVerdict::Open:
            return "open";
        case P2pVerdict::Moderate:
            return "moderate";
        case P2pVerdict::Strict:
            return "strict";
        case P2pVerdict::Unknown:
            break;
    }
    return "unknown";
}

std::string_view P2pVerdictWord(P2pVerdict verdict) {
    switch (verdict) {
        case P2pVerdict::Blocked:
            return "不通";
        case P2pVerdict::Open:
            return "开放";
        case P2pVerdict::Moderate:
            return "中等";
        case P2pVerdict::Strict:
            return "严格";
        case P2pVerdict::Unknown:
            break;
    }
    return "未知";
}

std::string_view PortMappingProtocolName(PortMappingProtocol protocol) {
    switch (protocol) {
        case PortMappingProtocol::Upnp:
            return "upnp";
        case PortMappingProtocol::NatPmp:
            return "nat-pmp";
        case PortMappingProtocol::Pcp:
            break;
    }
    return "pcp";
}

NatMapping DecideMapping(const StunObservations& stun) {
    const std::optional<TransportAddress>& first = stun.mapped1 ? stun.mapped1 : stun.mapped2;
    // One answer that shows the socket's own address is enough: no NAT rewrites a source to
    // the very address and port it came from, whatever the destination.
    if (first && stun.local && *first == *stun.local) {
        return NatMapping::None;
    }
    if (!stun.mapped1 || !stun.mapped2) {
        return NatMapping::Unknown;
    }
    if (*stun.mapped1 == *stun.mapped2) {
        return NatMapping::EndpointIndependent;
    }
    // The other address on two ports tells whether the port of the destination counts too.
    if (stun.otherAddress && stun.mappedOtherAddress && stun.mappedOtherAddressAndPort) {
        return *stun.mappedOtherAddress == *stun.mappedOtherAddressAndPort
                   ? NatMapping::AddressDependent
                   : NatMapping::AddressAndPortDependent;
    }
    return NatMapping::EndpointDependent;
}

NatFiltering DecideFiltering(const StunObservations& stun) {
    // Unanswered change requests mean filtering only when the server answers this socket at
    // all; without any answer they say nothing of the NAT.
    if (!stun.otherAddress || !AnyStunAnswer(stun)) {
        return NatFiltering::Unknown;
    }
    if (stun.changeIpAndPortAnswered.value_or(false)) {
        return NatFiltering::EndpointIndependent;
    }
    if (stun.changePortAnswered.value_or(false)) {
        return NatFiltering::AddressDependent;
    }
    if (stun.changeIpAndPortAnswered && stun.changePortAnswered) {
        return NatFiltering::AddressAndPortDependent;
    }
    return NatFiltering::Unknown;
}

bool IsNonPublicIpv4(std::string_view address) {
    const std::optional<std::uint32_t> parsed = ParseIpv4(address);
    if (!parsed) {
        return true;
    }
    return std::any_of(std::begin(kNonPublicBlocks), std::end(kNonPublicBlocks),
                       [&](const Ipv4Block& block) { return block.Contains(*parsed); });
}

bool IsSharedAddressSpace(std::string_view address) {
    const std::optional<std::uint32_t> parsed = ParseIpv4(address);
    return parsed && kSharedAddressSpace.Contains(*parsed);
}

P2pResult DecideP2p(const P2pObservations& observations, bool serviceUdpAnswered) {
    const StunObservations& stun = observations.stun;
    P2pResult result;
    result.mapping = DecideMapping(stun);
    result.filtering = DecideFiltering(stun);
    result.mappedAddress = stun.mapped1 ? stun.mapped1 : stun.mapped2;
    result.portMapping = observations.portMapping;
    result.ipv6 = observations.ipv6;
    result.probes = observations.probes;
    const bool stunAnswered = AnyStunAnswer(stun);
    result.udp = stunAnswered || serviceUdpAnswered;
    const bool usableMapping = UsablePortMapping(observations, result.mappedAddress);
    const bool behindNat = result.mapping != NatMapping::None && result.mappedAddress;

    std::vector<std::string> doubleNatSigns;
    std::vector<std::string> sharedSigns;
    bool anyAnswered = false;
    bool upnpAnswered = false;
    std::vector<std::string> refusing;
    std::string refusals;
    for (const PortMappingAnswer& answer : observations.portMapping) {
        if (!answer.answered) {
            continue;
        }
        anyAnswered = true;
        upnpAnswered = upnpAnswered || answer.protocol == PortMappingProtocol::Upnp;
        const std::string_view name = PortMappingProtocolName(answer.protocol);
        // An ANNOUNCE answer never carries an address: of PCP only its result code speaks.
        const bool reportsAddress = answer.protocol != PortMappingProtocol::Pcp;
        if (!answer.available || (reportsAddress && answer.externalAddress.empty())) {
            refusing.emplace_back(name);
            refusals += (refusals.empty() ? "" : "; ") + std::string(name) + ": " +
                        (answer.detail.empty() ? "no external address" : answer.detail);
        }
        const bool behindAnother =
            (reportsAddress &&
             (answer.externalAddress.empty() || IsNonPublicIpv4(answer.externalAddress) ||
              (result.mappedAddress && answer.externalAddress != result.mappedAddress->address))) ||
            answer.addressMismatch;
        if (behindAnother) {
            result.doubleNat = true;
            AddOnce(doubleNatSigns, answer.externalAddress);
        }
        if (IsSharedAddressSpace(answer.externalAddress)) {
            AddOnce(sharedSigns, answer.externalAddress);
        }
    }
    if (result.doubleNat && result.mappedAddress) {
        AddOnce(doubleNatSigns, result.mappedAddress->address);
    }
    for (const std::string* address : {&observations.localAddress, &observations.hopPastGateway}) {
        if (IsSharedAddressSpace(*address)) {
            AddOnce(sharedSigns, *address);
        }
    }
    result.carrierGradeNat = !sharedSigns.empty();

    if (!stunAnswered && !serviceUdpAnswered) {
        result.verdict = P2pVerdict::Blocked;
    } else if (usableMapping) {
        // The router forwards a mapped port whatever its NAT does with other traffic, so a
        // usable mapping opens even a strict NAT to peers.
        result.verdict = P2pVerdict::Open;
    } else if (result.mapping == NatMapping::None) {
        const bool filtered = result.filtering == NatFiltering::AddressDependent ||
                              result.filtering == NatFiltering::AddressAndPortDependent;
        result.verdict = filtered ? P2pVerdict::Moderate : P2pVerdict::Open;
    } else if (result.mapping == NatMapping::EndpointIndependent) {
        result.verdict = P2pVerdict::Moderate;
    } else if (Dependent(result.mapping)) {
        result.verdict = P2pVerdict::Strict;
    } else {
        result.verdict = P2pVerdict::Unknown;
    }

    std::vector<Problem>& problems = result.problems;
    if (result.verdict == P2pVerdict::Blocked) {
        problems.push_back(MakeProblem(ProblemCode::UdpBlocked, stun.servers));
    } else if (!stunAnswered) {
        problems.push_back(MakeProblem(ProblemCode::StunUnreachable, stun.servers));
    }
    if (Dependent(result.mapping)) {
        std::vector<std::string> seen;
        for (const auto* mapped : {&stun.mapped1, &stun.mapped2, &stun.mappedOtherAddress,
                                   &stun.mappedOtherAddressAndPort}) {
            if (*mapped) {
                AddOnce(seen, ToString(**mapped));
            }
        }
        // With a usable mapping peers come in through it; the varying mapping only costs the
        // connections the client opens itself.
        problems.push_back(usableMapping
                               ? MakeProblemAs(Severity::Info, ProblemCode::NatMappingVaries, seen)
                               : MakeProblem(ProblemCode::NatMappingVaries, seen));
    }
    if (behindNat && !anyAnswered) {
        problems.push_back(
            MakeProblem(ProblemCode::NoPortMapping, PortMappingTargets(observations)));
    }
    if (!refusing.empty() && !usableMapping) {
        problems.push_back(MakeProblem(ProblemCode::PortMappingRefused, refusing, refusals));
    }
    if (result.doubleNat) {
        problems.push_back(MakeProblem(ProblemCode::DoubleNat, doubleNatSigns));
    }
    if (result.carrierGradeNat) {
        problems.push_back(MakeProblem(ProblemCode::CarrierGradeNat, sharedSigns));
    }
    if (upnpAnswered) {
        std::vector<std::string> unmapped;
        std::string details;
        for (const ClientPortMapping& port : observations.clientPorts) {
            if (!port.mapped) {
                AddOnce(unmapped, std::to_string(port.port));
                if (!port.detail.empty()) {
                    details += (details.empty() ? "" : "; ") + std::to_string(port.port) + ": " +
                               port.detail;
                }
            }
        }
        if (!unmapped.empty()) {
            problems.push_back(MakeProblem(ProblemCode::ClientPortNotMapped, unmapped, details));
        }
    }
    return result;
}

std::string P2pNotesLines(const std::optional<P2pResult>& result) {
    if (!result) {
        return {};
    }
    std::string lines = "\r\nP2P连通性:" + std::string(P2pVerdictWord(result->verdict));
    for (const std::string& advice : AdviceLines(result->problems)) {
        lines += "\r\n" + advice;
    }
    return lines;
}

}  // namespace lumidex
