#include "engine/Diagnosis.h"

#include <algorithm>

#include "engine/P2pVerdict.h"
#include "engine/PathQuality.h"
#include "engine/ProbeCapture.h"
#include "platform/TextCodec.h"

namespace lumidex {
namespace {

// A row holds at most this many probe records: a hostile list naming thousands of servers is
// sampled anyway, but a record per echo must not grow without bound.
constexpr std::size_t kMaxProbesPerRow = 512;
// Far above any list the checks make; a negative or absurd row is a caller's fault, dropped.
constexpr int kMaxRows = 64;

// The thresholds above which an answer counts as slow. They never change a row's status: a
// slow answer is still an answer, the problem only says where the time goes.
//
// The gateway is one hop away on the local network: wired links answer in under a
// millisecond and Wi-Fi in a few; 100 ms there means a saturated or failing link.
constexpr double kGatewaySlowMs = 100;
// A provider's resolver is usually within 30 ms; at 200 ms every new name the client looks up
// stalls visibly.
constexpr double kDnsServerSlowMs = 200;
// A TCP connect to a public site or a service host across the country takes 20 to 80 ms, to
// another continent up to 300 ms; beyond 500 ms pages and channel starts feel broken.
constexpr double kRemoteConnectSlowMs = 500;
// The channel list server answers from a cache; 2 s before its first byte means the server or
// the path to it is overloaded.
constexpr double kChannelListFirstByteSlowMs = 2000;
// A UDP answer from a channel server or tracker is one round trip; 1 s of it delays every
// peer exchange of a stream, which then stutters.
constexpr double kUdpServerSlowMs = 1000;

struct SlowRule {
    int itemId;
    ProbeKind kind;
    const char* step;  // nullptr: every step
    double thresholdMs;
    ProblemCode code;
};

constexpr SlowRule kSlowRules[] = {
    {2, ProbeKind::Icmp, nullptr, kGatewaySlowMs, ProblemCode::GatewaySlow},
    {3, ProbeKind::Icmp, nullptr, kDnsServerSlowMs, ProblemCode::DnsServerSlow},
    {7, ProbeKind::Tcp, nullptr, kRemoteConnectSlowMs, ProblemCode::InternetSlow},
    {14, ProbeKind::Tcp, nullptr, kRemoteConnectSlowMs, ProblemCode::ServiceHostSlow},
    {15, ProbeKind::Tcp, nullptr, kRemoteConnectSlowMs, ProblemCode::ServiceHostSlow},
    {16, ProbeKind::Icmp, nullptr, kRemoteConnectSlowMs, ProblemCode::ServiceHostSlow},
    {16, ProbeKind::Http, "first_byte", kChannelListFirstByteSlowMs, ProblemCode::ChannelListSlow},
    {17, ProbeKind::Udp, nullptr, kUdpServerSlowMs, ProblemCode::ChannelServerSlow},
    {18, ProbeKind::Udp, nullptr, kUdpServerSlowMs, ProblemCode::TrackerSlow},
};

// Targets and details name what a probe met outside: a host of a redirect, a name in a file,
// a registry value. Callers that know a text's encoding decode it; whatever is still not
// UTF-8 when it is stored gets replacement characters, so no row tip, text or JSON output can
// fail on it.
void MakeWellFormed(Problem& problem) {
    for (std::string& target : problem.targets) {
        target = platform::ValidUtf8(target);
    }
    problem.detail = platform::ValidUtf8(problem.detail);
}

void MakeWellFormed(ProbeRecord& record) {
    record.target = platform::ValidUtf8(record.target);
    record.step = platform::ValidUtf8(record.step);
}

}  // namespace

Problem MakeProblem(ProblemCode code, std::vector<std::string> targets, std::string detail) {
    return MakeProblemAs(InfoOf(code).severity, code, std::move(targets), std::move(detail));
}

Problem MakeProblemAs(Severity severity, ProblemCode code, std::vector<std::string> targets,
                      std::string detail) {
    return {code, severity, std::move(targets), std::move(detail)};
}

std::string_view ProbeKindName(ProbeKind kind) {
    switch (kind) {
        case ProbeKind::Icmp:
            return "icmp";
        case ProbeKind::Tcp:
            return "tcp";
        case ProbeKind::Udp:
            return "udp";
        case ProbeKind::Http:
            return "http";
        case ProbeKind::Dns:
            return "dns";
        case ProbeKind::Stun:
            return "stun";
        case ProbeKind::Upnp:
            return "upnp";
        case ProbeKind::NatPmp:
            return "nat-pmp";
        case ProbeKind::Pcp:
            return "pcp";
    }
    return "icmp";
}

std::string_view ProbeOutcomeName(ProbeOutcome outcome) {
    switch (outcome) {
        case ProbeOutcome::Ok:
            return "ok";
        case ProbeOutcome::Timeout:
            return "timeout";
        case ProbeOutcome::Refused:
            return "refused";
        case ProbeOutcome::Unreachable:
            return "unreachable";
        case ProbeOutcome::Error:
            return "error";
        case ProbeOutcome::Malformed:
            return "malformed";
    }
    return "error";
}

ProbeOutcome ConnectOutcome(platform::ConnectResult result) {
    switch (result) {
        case platform::ConnectResult::Connected:
            return ProbeOutcome::Ok;
        case platform::ConnectResult::Refused:
            return ProbeOutcome::Refused;
        case platform::ConnectResult::TimedOut:
            return ProbeOutcome::Timeout;
        case platform::ConnectResult::Unreachable:
            return ProbeOutcome::Unreachable;
        case platform::ConnectResult::Aborted:
        case platform::ConnectResult::NotOpen:
            break;
    }
    return ProbeOutcome::Error;
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

void RunDiagnosis::Reset() {
    std::lock_guard lock(m_mutex);
    m_currentRow = -1;
    m_rows.clear();
    m_desktopConnectivity.reset();
    m_p2p.reset();
    m_path.reset();
}

void RunDiagnosis::SetP2p(P2pResult result) {
    auto kept = std::make_shared<const P2pResult>(std::move(result));
    std::lock_guard lock(m_mutex);
    m_p2p = std::move(kept);
}

std::optional<P2pResult> RunDiagnosis::P2p() const {
    std::lock_guard lock(m_mutex);
    if (!m_p2p) {
        return std::nullopt;
    }
    return *m_p2p;
}

void RunDiagnosis::SetPath(PathResult result) {
    auto kept = std::make_shared<const PathResult>(std::move(result));
    std::lock_guard lock(m_mutex);
    m_path = std::move(kept);
}

std::optional<PathResult> RunDiagnosis::Path() const {
    std::lock_guard lock(m_mutex);
    if (!m_path) {
        return std::nullopt;
    }
    return *m_path;
}

void RunDiagnosis::SetDesktopConnectivity(std::string state) {
    std::lock_guard lock(m_mutex);
    m_desktopConnectivity = std::move(state);
}

std::optional<std::string> RunDiagnosis::DesktopConnectivity() const {
    std::lock_guard lock(m_mutex);
    return m_desktopConnectivity;
}

void RunDiagnosis::SetCurrentRow(int row) {
    std::lock_guard lock(m_mutex);
    m_currentRow = row;
}

int RunDiagnosis::CurrentRow() const {
    std::lock_guard lock(m_mutex);
    return m_currentRow;
}

RowDiagnosis* RunDiagnosis::Slot(int row) {
    if (row < 0 || row >= kMaxRows) {
        return nullptr;
    }
    if (static_cast<std::size_t>(row) >= m_rows.size()) {
        m_rows.resize(static_cast<std::size_t>(row) + 1);
    }
    return &m_rows[static_cast<std::size_t>(row)];
}

void RunDiagnosis::AddProblem(int row, Problem problem) {
    MakeWellFormed(problem);
    std::lock_guard lock(m_mutex);
    if (RowDiagnosis* slot = Slot(row);
        slot != nullptr && slot->problems.size() < kMaxProblemsPerRow) {
        slot->problems.push_back(std::move(problem));
    }
}

void RunDiagnosis::JoinProblem(int row, Problem problem) {
    std::lock_guard lock(m_mutex);
    RowDiagnosis* slot = Slot(row);
    if (slot == nullptr) {
        return;
    }
    const auto same = [&](const Problem& p) { return p.code == problem.code; };
    const auto kept = std::find_if(slot->problems.begin(), slot->problems.end(), same);
    if (kept == slot->problems.end()) {
        if (slot->problems.size() < kMaxProblemsPerRow) {
            slot->problems.push_back(std::move(problem));
        }
        return;
    }
    // Error comes first among the severities.
    kept->severity = std::min(kept->severity, problem.severity);
    for (std::string& target : problem.targets) {
        if (std::find(kept->targets.begin(), kept->targets.end(), target) == kept->targets.end()) {
            kept->targets.push_back(std::move(target));
        }
    }
}

void RunDiagnosis::AddProbe(int row, ProbeRecord record) {
    MakeWellFormed(record);
    std::lock_guard lock(m_mutex);
    if (RowDiagnosis* slot = Slot(row); slot != nullptr && slot->probes.size() < kMaxProbesPerRow) {
        slot->probes.push_back(std::move(record));
    }
}

void RunDiagnosis::SetExplainedBy(int row, std::vector<ExplainedBy> explainedBy) {
    std::lock_guard lock(m_mutex);
    if (RowDiagnosis* slot = Slot(row)) {
        slot->explainedBy = std::move(explainedBy);
    }
}

RowDiagnosis RunDiagnosis::Row(int row) const {
    std::lock_guard lock(m_mutex);
    if (row < 0 || static_cast<std::size_t>(row) >= m_rows.size()) {
        return {};
    }
    return m_rows[static_cast<std::size_t>(row)];
}

bool RunDiagnosis::Empty() const {
    std::lock_guard lock(m_mutex);
    return std::all_of(m_rows.begin(), m_rows.end(), [](const RowDiagnosis& row) {
        return row.problems.empty() && row.probes.empty();
    });
}

RunDiagnosis& TheRunDiagnosis() {
    static RunDiagnosis diagnosis;
    return diagnosis;
}

void RecordProbe(ProbeRecord record) {
    if (CaptureEntry(ProbeCapture::Entry(record))) {
        return;
    }
    RunDiagnosis& diagnosis = TheRunDiagnosis();
    diagnosis.AddProbe(diagnosis.CurrentRow(), std::move(record));
}

void NoteProblem(Problem problem) {
    if (CaptureEntry(ProbeCapture::Entry(problem))) {
        return;
    }
    RunDiagnosis& diagnosis = TheRunDiagnosis();
    diagnosis.AddProblem(diagnosis.CurrentRow(), std::move(problem));
}

DiagnosisRowScope::DiagnosisRowScope(int row) : m_previous(TheRunDiagnosis().CurrentRow()) {
    TheRunDiagnosis().SetCurrentRow(row);
}

DiagnosisRowScope::~DiagnosisRowScope() {
    TheRunDiagnosis().SetCurrentRow(m_previous);
}

std::vector<Problem> RowProblems(int itemId, const RowDiagnosis& row) {
    std::vector<Problem> problems = row.problems;
    for (const SlowRule& rule : kSlowRules) {
        if (rule.itemId != itemId) {
            continue;
        }
        std::vector<std::string> slow;
        for (const ProbeRecord& probe : row.probes) {
            const bool matches = probe.kind == rule.kind && probe.outcome == ProbeOutcome::Ok &&
                                 (rule.step == nullptr || probe.step == rule.step);
            if (matches && probe.rttMs && *probe.rttMs > rule.thresholdMs &&
                std::find(slow.begin(), slow.end(), probe.target) == slow.end()) {
                slow.push_back(probe.target);
            }
        }
        if (slow.empty()) {
            continue;
        }
        auto same = [&](const Problem& p) { return p.code == rule.code; };
        if (auto it = std::find_if(problems.begin(), problems.end(), same); it != problems.end()) {
            it->targets.insert(it->targets.end(), slow.begin(), slow.end());
        } else {
            problems.push_back(MakeProblem(rule.code, std::move(slow)));
        }
    }
    return problems;
}

std::vector<std::string> AdviceLines(const std::vector<Problem>& problems) {
    std::vector<ProblemCode> codes;
    std::vector<std::vector<std::string>> targets;
    for (const Problem& problem : problems) {
        auto at = std::find(codes.begin(), codes.end(), problem.code);
        if (at == codes.end()) {
            codes.push_back(problem.code);
            targets.emplace_back();
            at = codes.end() - 1;
        }
        auto& listed = targets[static_cast<std::size_t>(at - codes.begin())];
        for (const std::string& target : problem.targets) {
            if (std::find(listed.begin(), listed.end(), target) == listed.end()) {
                listed.push_back(target);
            }
        }
    }
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        std::string line(InfoOf(codes[i]).advice);
        if (!targets[i].empty()) {
            line += "（";
            for (std::size_t t = 0; t < targets[i].size(); ++t) {
                line += (t == 0 ? "" : ", ") + targets[i][t];
            }
            line += "）";
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace lumidex
