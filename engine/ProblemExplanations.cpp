#include "engine/ProblemExplanations.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace lumidex {
namespace {

using enum ProblemCode;

// What the local network needs, and what everything past it needs besides.
constexpr unsigned kOnNetwork = kLink | kAddress;
constexpr unsigned kPastGateway = kOnNetwork | kRoute;
// A service host or the channel list host, reached by its name across the Internet.
constexpr unsigned kServiceHost = kPastGateway | kNames | kTrueNames | kInternet | kUnintercepted;
// The servers the channel list names.
constexpr unsigned kListedServers = kServiceHost | kChannelList;
constexpr unsigned kUdpServer = kPastGateway | kInternet | kUnintercepted | kUdp;
// A path traced to a host across the Internet.
constexpr unsigned kTracedPath = kPastGateway | kLocalPath;

// One line per code. A code whose problem means that something answered (slow, lossy,
// malformed) or that reads a setting is never explained: nothing below stops it.
constexpr std::array kNeeds = {
    ProblemNeeds{NoLocalAddress, kLink},
    ProblemNeeds{LocalAddressFromHostName, kPastGateway},
    ProblemNeeds{GatewayNotConfigured, kOnNetwork},
    ProblemNeeds{GatewayUnreachable, kPastGateway},
    ProblemNeeds{GatewayPacketLoss, kNeverExplained},
    ProblemNeeds{GatewaySlow, kNeverExplained},
    ProblemNeeds{DnsNotConfigured, kOnNetwork},
    ProblemNeeds{DnsServerUnreachable, kPastGateway | kForwardingGateway},
    ProblemNeeds{DnsServerSlow, kNeverExplained},
    ProblemNeeds{DnsNotResolving, kPastGateway | kForwardingGateway | kDnsServer},
    ProblemNeeds{BrowserOffline, kNeverExplained},
    ProblemNeeds{ProxyEmpty, kNeverExplained},
    ProblemNeeds{ProxyUnreachable, kOnNetwork},
    ProblemNeeds{DialupNotConnected, kNeverExplained},
    ProblemNeeds{LinkDown, kNeverExplained},
    ProblemNeeds{InternetUnreachable, kPastGateway | kNames},
    ProblemNeeds{InternetPartial, kNeverExplained},
    ProblemNeeds{InternetSlow, kNeverExplained},
    ProblemNeeds{CaptivePortal, kNeverExplained},
    ProblemNeeds{DesktopReportsPortal, kUnintercepted},
    ProblemNeeds{DesktopReportsLimited, kPastGateway | kInternet},
    ProblemNeeds{DesktopReportsNoConnection, kOnNetwork},
    ProblemNeeds{OsUnknown, kClientPrefix},
    ProblemNeeds{PlayerMissing, kClientPrefix},
    ProblemNeeds{PlayerTooOld, kClientPrefix},
    ProblemNeeds{AsfNotAssociated, kClientPrefix | kPlayer},
    ProblemNeeds{AsxNotAssociated, kClientPrefix | kPlayer},
    ProblemNeeds{AsxOtherPlayer, kClientPrefix},
    ProblemNeeds{XpSp2PatchMissing, kClientPrefix},
    ProblemNeeds{ClientPrefixNotFound, kNeverExplained},
    ProblemNeeds{ClientInSeveralPrefixes, kNeverExplained},
    ProblemNeeds{ClientNotRunning, kClientPrefix},
    ProblemNeeds{HostsFileUnreadable, kNeverExplained},
    ProblemNeeds{HostsMapsProductDomain, kNeverExplained},
    ProblemNeeds{HostsMapsWrongAddress, kNeverExplained},
    ProblemNeeds{DnsAnswersNonexistentNames, kUnintercepted},
    ProblemNeeds{ProductNamesHijacked, kUnintercepted},
    ProblemNeeds{WebHostsUnreachable, kServiceHost},
    ProblemNeeds{InformationHostsUnreachable, kServiceHost},
    ProblemNeeds{ListHostsUnreachable, kServiceHost},
    ProblemNeeds{ServiceHostSlow, kNeverExplained},
    ProblemNeeds{ChannelListUnreachable, kServiceHost},
    ProblemNeeds{ChannelListHttpError, kUnintercepted},
    ProblemNeeds{ChannelListMalformed, kUnintercepted},
    ProblemNeeds{ChannelListIntercepted, kUnintercepted},
    ProblemNeeds{ChannelListSlow, kNeverExplained},
    ProblemNeeds{NoChannelServersListed, kListedServers},
    ProblemNeeds{ChannelServersSilent, kUdpServer},
    ProblemNeeds{ChannelServerSlow, kNeverExplained},
    ProblemNeeds{NoTrackersListed, kListedServers},
    ProblemNeeds{TrackersSilent, kUdpServer},
    ProblemNeeds{TrackerSlow, kNeverExplained},
    ProblemNeeds{UdpRepliesMalformed, kNeverExplained},
    // Peers: UDP must leave this network before anything of the NAT can be seen.
    ProblemNeeds{UdpBlocked, kPastGateway | kInternet | kUnintercepted},
    ProblemNeeds{NatMappingVaries, kNeverExplained},
    ProblemNeeds{NoPortMapping, kOnNetwork | kRoute},
    ProblemNeeds{PortMappingRefused, kNeverExplained},
    ProblemNeeds{DoubleNat, kNeverExplained},
    ProblemNeeds{CarrierGradeNat, kNeverExplained},
    ProblemNeeds{ClientPortNotMapped, kRunningClient | kPortMapping},
    ProblemNeeds{StunUnreachable, kPastGateway | kNames | kInternet | kUnintercepted | kUdp},
    // The path: a lossy answer is an answer, so loss and jitter are causes of their own.
    ProblemNeeds{LocalLinkLoss, kNeverExplained},
    ProblemNeeds{LocalLinkJitter, kNeverExplained},
    ProblemNeeds{UdpPacketLoss, kNeverExplained},
    ProblemNeeds{UdpJitterHigh, kNeverExplained},
    ProblemNeeds{PathBreaksLocally, kOnNetwork | kRoute},
    ProblemNeeds{PathBreaksAtProvider, kTracedPath},
    ProblemNeeds{PathBreaksAtService, kTracedPath | kProviderPath | kInternet},
};

constexpr std::array kRules = {
    ExplanationRule{LinkDown, kLink,
                    "without a link nothing gets an address or reaches anything on the network"},
    ExplanationRule{NoLocalAddress, kAddress,
                    "without an address nothing can be sent, not even to the local network"},
    ExplanationRule{GatewayNotConfigured, kRoute,
                    "without a default gateway nothing past the local network can be reached; "
                    "the address is then taken from the host name"},
    ExplanationRule{GatewayUnreachable, kForwardingGateway,
                    "the DNS servers are reached through the gateway: when it answers nothing, "
                    "their silence is its own"},
    ExplanationRule{DnsNotConfigured, kDnsServer, "without a DNS server no name resolves"},
    ExplanationRule{DnsServerUnreachable, kDnsServer,
                    "a DNS server that answers nothing resolves nothing; when names still "
                    "resolve, no problem of names arises for it to explain"},
    ExplanationRule{DnsNotResolving, kNames,
                    "a host whose name does not resolve has no address to be reached at"},
    ExplanationRule{HostsMapsWrongAddress, kTrueNames,
                    "the hosts file sends the services' names to an address that is not theirs"},
    ExplanationRule{ProductNamesHijacked, kTrueNames,
                    "the services' names resolve to an address that is not theirs"},
    ExplanationRule{InternetUnreachable, kInternet,
                    "when no public site answers, neither can the services across the Internet"},
    ExplanationRule{CaptivePortal, kUnintercepted,
                    "until the user logs in, the portal answers names and connections in the "
                    "services' place"},
    ExplanationRule{ChannelListUnreachable, kChannelList,
                    "the channel servers and trackers are known only from the channel list"},
    ExplanationRule{ChannelListHttpError, kChannelList,
                    "the channel servers and trackers are known only from the channel list"},
    ExplanationRule{ChannelListMalformed, kChannelList,
                    "the channel servers and trackers are known only from the channel list"},
    ExplanationRule{ChannelListIntercepted, kChannelList,
                    "the channel servers and trackers are known only from the channel list"},
    ExplanationRule{PlayerMissing, kPlayer,
                    "without the player nothing associates the files with it"},
    ExplanationRule{ClientPrefixNotFound, kClientPrefix,
                    "the software rows read the client's prefix; without it they find nothing"},
    ExplanationRule{ClientNotRunning, kRunningClient,
                    "a client that does not run has no port for the router to map"},
    ExplanationRule{UdpBlocked, kUdp,
                    "where no UDP leaves the network, no channel server, tracker or STUN server "
                    "can answer"},
    ExplanationRule{NoPortMapping, kPortMapping,
                    "a router that maps no ports maps none of the client's either"},
    ExplanationRule{PortMappingRefused, kPortMapping,
                    "a router that refuses mappings maps none of the client's either"},
    ExplanationRule{PathBreaksLocally, kLocalPath,
                    "a path cut on the local network cannot be traced further"},
    ExplanationRule{PathBreaksAtProvider, kProviderPath,
                    "a path cut at the provider never reaches the service's end"},
};

}  // namespace

std::span<const ProblemNeeds> ProblemNeedsTable() {
    return kNeeds;
}

std::span<const ExplanationRule> ExplanationRules() {
    return kRules;
}

unsigned NeedsOf(ProblemCode code) {
    for (const ProblemNeeds& entry : kNeeds) {
        if (entry.code == code) {
            return entry.needs;
        }
    }
    return kNeverExplained;
}

unsigned TakesAway(ProblemCode cause) {
    unsigned taken = 0;
    for (const ExplanationRule& rule : kRules) {
        if (rule.cause == cause) {
            taken |= rule.takesAway;
        }
    }
    return taken;
}

bool Explains(ProblemCode cause, ProblemCode problem) {
    return cause != problem && (TakesAway(cause) & NeedsOf(problem)) != 0;
}

RunExplanation ExplainRun(const std::vector<RunProblem>& problems) {
    // A hosts file can make hundreds of problems: each one's needs and what it takes away
    // are looked up once, not once per pair.
    const std::size_t n = problems.size();
    std::vector<unsigned> needs(n);
    std::vector<unsigned> takesAway(n);
    for (std::size_t i = 0; i < n; ++i) {
        needs[i] = NeedsOf(problems[i].problem.code);
        takesAway[i] = TakesAway(problems[i].problem.code);
    }
    // explainers[i]: the problems of the run that explain problem i directly; explains[j]
    // the other way round.
    std::vector<std::vector<std::size_t>> explainers(n);
    std::vector<std::vector<std::size_t>> explains(n);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            if ((takesAway[j] & needs[i]) != 0 &&
                problems[j].problem.code != problems[i].problem.code) {
                explainers[i].push_back(j);
                explains[j].push_back(i);
            }
        }
    }
    // The longest chain of explanations below each problem. The table has no cycle (a test
    // sees to it), so neither has this graph: a pass per level of it settles every depth.
    std::vector<int> depth(n, 0);
    for (bool changed = true; changed;) {
        changed = false;
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t j : explainers[i]) {
                if (depth[j] + 1 > depth[i]) {
                    depth[i] = depth[j] + 1;
                    changed = true;
                }
            }
        }
    }

    RunExplanation out;
    for (std::size_t i = 0; i < n; ++i) {
        ExplainedProblem entry{problems[i].row, problems[i].problem, std::nullopt};
        // Of two as deep, the one on the nearer row: the rows go up the layers.
        const auto distance = [&](std::size_t j) {
            return std::abs(problems[j].row - problems[i].row);
        };
        std::optional<std::size_t> nearest;
        for (std::size_t j : explainers[i]) {
            if (!nearest || depth[j] > depth[*nearest] ||
                (depth[j] == depth[*nearest] && distance(j) < distance(*nearest))) {
                nearest = j;
            }
        }
        if (nearest) {
            entry.causedBy = problems[*nearest].problem.code;
            ++out.explained;
        }
        out.problems.push_back(std::move(entry));
    }

    std::vector<bool> reached(n, false);
    for (std::size_t i = 0; i < n; ++i) {
        if (!explainers[i].empty()) {
            continue;
        }
        // Everything reachable from i through the explanations.
        std::fill(reached.begin(), reached.end(), false);
        std::vector<std::size_t> explained;
        std::vector<std::size_t> pending = {i};
        while (!pending.empty()) {
            const std::size_t at = pending.back();
            pending.pop_back();
            for (std::size_t k : explains[at]) {
                if (!reached[k]) {
                    reached[k] = true;
                    explained.push_back(k);
                    pending.push_back(k);
                }
            }
        }
        std::sort(explained.begin(), explained.end());
        if (problems[i].problem.severity != Severity::Info || !explained.empty()) {
            const int count = static_cast<int>(explained.size());
            out.primary.push_back(
                {problems[i].row, problems[i].problem, count, std::move(explained)});
        } else {
            out.others.push_back(problems[i]);
        }
    }
    return out;
}

std::vector<PrimaryAdvice> PrimaryAdviceLines(const RunExplanation& explanation) {
    std::vector<Problem> problems;
    for (const PrimaryCause& cause : explanation.primary) {
        problems.push_back(cause.problem);
    }
    // AdviceLines gives one line per code in the order first met: the same order here.
    // A problem that two primaries of one code explain counts once for that code.
    std::vector<ProblemCode> codes;
    std::vector<std::vector<std::size_t>> explained;
    for (const PrimaryCause& cause : explanation.primary) {
        auto at = std::find(codes.begin(), codes.end(), cause.problem.code);
        if (at == codes.end()) {
            codes.push_back(cause.problem.code);
            explained.emplace_back();
            at = codes.end() - 1;
        }
        auto& listed = explained[static_cast<std::size_t>(at - codes.begin())];
        for (std::size_t index : cause.explainedIndexes) {
            if (std::find(listed.begin(), listed.end(), index) == listed.end()) {
                listed.push_back(index);
            }
        }
    }
    std::vector<PrimaryAdvice> out;
    std::vector<std::string> lines = AdviceLines(problems);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out.push_back({std::move(lines[i]), static_cast<int>(explained[i].size())});
    }
    return out;
}

std::string PrimaryCauseNotes(const RunExplanation& explanation) {
    const std::vector<PrimaryAdvice> lines = PrimaryAdviceLines(explanation);
    if (lines.empty()) {
        return {};
    }
    std::string notes = kPrimaryCausesHeading;
    for (const PrimaryAdvice& advice : lines) {
        notes += "\r\n- " + advice.line;
    }
    return notes;
}

}  // namespace lumidex
