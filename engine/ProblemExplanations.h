// What explains what: a problem is explained by another of the same run when the other lies
// on a layer below it and is enough to cause it (the link down explains every name that did
// not resolve). Explanations chain; a problem nothing of its run explains is a primary cause.
// docs/problems.md has the same table for people.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Diagnosis.h"
#include "engine/ProblemCatalog.h"

namespace lumidex {

// What a problem's check needs below it to get as far as it did, as flags. A problem is
// explained by every problem that takes away something it needs.
enum Need : unsigned {
    kNeverExplained = 0,           // nothing below can cause it on its own
    kLink = 1u << 0,               // a network link that is up
    kAddress = 1u << 1,            // an address on it
    kRoute = 1u << 2,              // a default gateway to leave the local network by
    kForwardingGateway = 1u << 3,  // a gateway that passes traffic to what lies behind it
    kDnsServer = 1u << 4,          // a DNS server that answers
    kNames = 1u << 5,              // names that resolve
    kTrueNames = 1u << 6,          // names that resolve to the services' own addresses
    kInternet = 1u << 7,           // a way through to the Internet
    kUnintercepted = 1u << 8,      // traffic that no login page catches
    kChannelList = 1u << 9,        // the channel list, downloaded and read
    kUdp = 1u << 10,               // UDP that gets through
    kPlayer = 1u << 11,            // a media player in the client's prefix
    kClientPrefix = 1u << 12,      // the Wine prefix that holds the client
    kRunningClient = 1u << 13,     // the client running, with ports of its own
    kPortMapping = 1u << 14,       // a router that maps ports
    kLocalPath = 1u << 15,         // a path that leaves the local network
    kProviderPath = 1u << 16,      // a path through the provider's network
};

struct ProblemNeeds {
    ProblemCode code;
    unsigned needs;
};

// cause explains every problem that needs one of takesAway, itself and its own code excepted.
struct ExplanationRule {
    ProblemCode cause;
    unsigned takesAway;
    std::string_view reason;
};

std::span<const ProblemNeeds> ProblemNeedsTable();
std::span<const ExplanationRule> ExplanationRules();
// What code needs; kNeverExplained for a code the table does not list.
unsigned NeedsOf(ProblemCode code);
// What the rules of cause take away together.
unsigned TakesAway(ProblemCode cause);
// cause is enough to cause problem (one rule, no chain).
bool Explains(ProblemCode cause, ProblemCode problem);

// A problem of the run and the row it stands on (an item id, or kP2pBlockItem and
// kPathBlockItem for the blocks beside the rows).
struct RunProblem {
    int row = 0;
    Problem problem;
};

struct ExplainedProblem {
    int row = 0;
    Problem problem;
    // The nearest problem of the run that explains this one: of all that do, the one that is
    // itself explained through the longest chain, and of those the one on the nearest row.
    // None for a problem nothing explains.
    std::optional<ProblemCode> causedBy;
};

struct PrimaryCause {
    int row = 0;
    Problem problem;
    // The problems of the run it explains, directly or through others: how many, and their
    // indexes in RunExplanation::problems.
    int explains = 0;
    std::vector<std::size_t> explainedIndexes;
};

struct RunExplanation {
    std::vector<ExplainedProblem> problems;  // every problem, in the order given
    // The problems nothing explains that are worth acting on: errors and warnings, and any
    // problem that explains others. In the order given.
    std::vector<PrimaryCause> primary;
    // The other problems nothing explains (notes such as a slow answer).
    std::vector<RunProblem> others;
    int explained = 0;  // how many problems something explains
};

RunExplanation ExplainRun(const std::vector<RunProblem>& problems);

// The next step of each primary code (targets joined, as AdviceLines makes them), with how
// many problems all of its primaries explain.
struct PrimaryAdvice {
    std::string line;
    int explains = 0;
};
std::vector<PrimaryAdvice> PrimaryAdviceLines(const RunExplanation& explanation);

// Where the notes' lines of the primary causes start, after the summary and the portal line.
inline constexpr char kPrimaryCausesHeading[] = "\r\n\r\n主要原因:";
// The heading and one line "- STEP" per primary cause; empty when there is none.
std::string PrimaryCauseNotes(const RunExplanation& explanation);

}  // namespace lumidex
