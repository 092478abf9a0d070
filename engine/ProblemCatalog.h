// Every problem a run can name: its stable code (scripts read it from the JSON, so a code is
// never renamed), its usual severity and the next step a user can take. docs/problems.md is
// the same table for people; a test keeps the two equal.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace lumidex {

enum class Severity { Error, Warning, Info };

std::string_view SeverityName(Severity severity);

enum class ProblemCode {
    // This computer's address and its way out (rows 1 to 3).
    NoLocalAddress,
    LocalAddressFromHostName,
    GatewayNotConfigured,
    GatewayUnreachable,
    GatewayPacketLoss,
    GatewaySlow,
    DnsNotConfigured,
    DnsServerUnreachable,
    DnsServerSlow,
    DnsNotResolving,  // beside the service rows (14 to 16), whose names did not resolve
    // Browser settings, the link and the Internet (rows 4 to 7).
    BrowserOffline,
    ProxyEmpty,
    ProxyUnreachable,
    DialupNotConnected,
    LinkDown,
    InternetUnreachable,
    InternetPartial,
    InternetSlow,
    CaptivePortal,
    DesktopReportsPortal,
    DesktopReportsLimited,
    DesktopReportsNoConnection,
    // The software (rows 8 to 12).
    OsUnknown,
    PlayerMissing,
    PlayerTooOld,
    AsfNotAssociated,
    AsxNotAssociated,
    AsxOtherPlayer,
    XpSp2PatchMissing,
    // The client itself, on the first software row (8).
    ClientPrefixNotFound,
    ClientInSeveralPrefixes,
    ClientNotRunning,
    // The services (rows 13 to 18).
    HostsFileUnreadable,
    HostsMapsProductDomain,
    HostsMapsWrongAddress,
    DnsAnswersNonexistentNames,  // beside the DNS row (3)
    ProductNamesHijacked,
    WebHostsUnreachable,
    InformationHostsUnreachable,
    ListHostsUnreachable,
    ServiceHostSlow,
    ChannelListUnreachable,
    ChannelListHttpError,
    ChannelListMalformed,
    ChannelListIntercepted,
    ChannelListSlow,
    NoChannelServersListed,
    ChannelServersSilent,
    ChannelServerSlow,
    NoTrackersListed,
    TrackersSilent,
    TrackerSlow,
    UdpRepliesMalformed,
    // Peer reachability, in the P2P block beside the rows.
    UdpBlocked,
    NatMappingVaries,
    NoPortMapping,
    PortMappingRefused,
    DoubleNat,
    CarrierGradeNat,
    ClientPortNotMapped,
    StunUnreachable,
    // The path: loss and jitter on the local link and to the service, where a path breaks.
    LocalLinkLoss,
    LocalLinkJitter,
    UdpPacketLoss,
    UdpJitterHigh,
    PathBreaksLocally,
    PathBreaksAtProvider,
    PathBreaksAtService,
};

// Problems of the checks beside the rows stand in a block of their own, never on a row: these
// pseudo item ids name the block (docs/problems.md's Row column says "P2P" and "Path").
inline constexpr int kP2pBlockItem = -1;
inline constexpr int kPathBlockItem = -2;

// The check items a problem can stand beside, by id (the JSON's row ids), first to last.
struct ItemRange {
    int first = 0;
    int last = 0;

    constexpr bool Contains(int itemId) const { return itemId >= first && itemId <= last; }
};

struct ProblemInfo {
    ProblemCode code;
    std::string_view name;    // snake_case, stable
    Severity severity;        // the usual one; a row may report it milder
    ItemRange items;          // the rows it appears on
    std::string_view advice;  // the next step, in the product's language
};

// In the order of ProblemCode.
std::span<const ProblemInfo> ProblemCatalog();
const ProblemInfo& InfoOf(ProblemCode code);
std::optional<ProblemCode> ProblemCodeFromName(std::string_view name);

}  // namespace lumidex
