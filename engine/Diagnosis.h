// What a run learned beside each row's verdict: the typed problems that explain it and every
// probe the row made with its round-trip time. Probes record as they happen; a probe running
// ahead of the walk records into its capture, replayed at the row's place, so the records land
// on the row that the one-at-a-time walk would have been on.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ProblemCatalog.h"
#include "platform/TcpSocket.h"

namespace lumidex {

struct P2pResult;
struct PathResult;

// A row keeps at most this many problems. Only a file can name more (a hosts file of product
// mappings makes one per line); the row's own text still lists every one of them.
inline constexpr std::size_t kMaxProblemsPerRow = 512;

struct Problem {
    ProblemCode code{};
    Severity severity = Severity::Info;
    std::vector<std::string> targets;  // host names, addresses, file paths
    std::string detail;                // a status, a parser's error, a redirect URL
};

// The catalogue's severity for code.
Problem MakeProblem(ProblemCode code, std::vector<std::string> targets = {},
                    std::string detail = {});
// Another severity than the catalogue's, where the row's verdict makes this instance milder
// (or graver) than the code usually is.
Problem MakeProblemAs(Severity severity, ProblemCode code, std::vector<std::string> targets = {},
                      std::string detail = {});

// Stun to Pcp: the peer-reachability probes beside the rows.
enum class ProbeKind { Icmp, Tcp, Udp, Http, Dns, Stun, Upnp, NatPmp, Pcp };
enum class ProbeOutcome { Ok, Timeout, Refused, Unreachable, Error, Malformed };

std::string_view ProbeKindName(ProbeKind kind);
std::string_view ProbeOutcomeName(ProbeOutcome outcome);
// How a connect ended, as a probe record says it.
ProbeOutcome ConnectOutcome(platform::ConnectResult result);

struct ProbeRecord {
    ProbeKind kind = ProbeKind::Icmp;
    std::string target;
    ProbeOutcome outcome = ProbeOutcome::Ok;
    std::optional<double> rttMs;  // only when something answered
    std::string step;             // "echo", "connect", "answer", "lookup", "first_byte", "total"
};

// Milliseconds since start, for a record's round-trip time.
double MillisecondsSince(std::chrono::steady_clock::time_point start);

struct ExplainedBy {
    ProblemCode problem{};
    ProblemCode cause{};  // the nearest problem of the run that explains it
};

struct RowDiagnosis {
    std::vector<Problem> problems;
    std::vector<ProbeRecord> probes;
    // Set when the run has ended: the row's problems that others of the run explain.
    std::vector<ExplainedBy> explainedBy{};
};

// The diagnosis of the current run, by row of the check list. Written by the check thread and
// probe threads, read by the window thread (row tips) and the console; hence the lock.
class RunDiagnosis {
public:
    // A new run: no rows, no current row.
    void Reset();
    // The row that records without a row of their own land on (-1: dropped).
    void SetCurrentRow(int row);
    int CurrentRow() const;

    void AddProblem(int row, Problem problem);
    // One problem of its code on the row: joins problem's targets (each once) to the one the
    // row already has, which then takes the graver severity; adds it when there is none.
    void JoinProblem(int row, Problem problem);
    void AddProbe(int row, ProbeRecord record);
    void SetExplainedBy(int row, std::vector<ExplainedBy> explainedBy);

    RowDiagnosis Row(int row) const;
    bool Empty() const;

    // The desktop's own verdict on the connection, by name; none where it said nothing.
    void SetDesktopConnectivity(std::string state);
    std::optional<std::string> DesktopConnectivity() const;

    // The peer-reachability verdict, beside the rows; none until the P2P probes ended (never
    // in a stopped run).
    void SetP2p(P2pResult result);
    std::optional<P2pResult> P2p() const;
    // The path measurements, beside the rows; none until they ended (never in a stopped run).
    void SetPath(PathResult result);
    std::optional<PathResult> Path() const;

private:
    RowDiagnosis* Slot(int row);

    mutable std::mutex m_mutex;
    int m_currentRow = -1;
    std::optional<std::string> m_desktopConnectivity;
    std::shared_ptr<const P2pResult> m_p2p;
    std::shared_ptr<const PathResult> m_path;
    std::vector<RowDiagnosis> m_rows;
};

// The one diagnosis of the process, reset by every run.
RunDiagnosis& TheRunDiagnosis();

// A probe's record for the current row; recorded by the capture instead on a thread that runs
// ahead of the walk.
void RecordProbe(ProbeRecord record);
// A problem for the current row, the same way (for probes that find it while they probe).
void NoteProblem(Problem problem);

// While it lives, records without a row of their own go to row (a download made while the
// walk shows another row but explained by this one).
class DiagnosisRowScope {
public:
    explicit DiagnosisRowScope(int row);
    ~DiagnosisRowScope();
    DiagnosisRowScope(const DiagnosisRowScope&) = delete;
    DiagnosisRowScope& operator=(const DiagnosisRowScope&) = delete;

private:
    int m_previous;
};

// The row's problems as reported, then one `info` problem per kind of probe that answered
// slower than its threshold (itemId tells which threshold and code apply).
std::vector<Problem> RowProblems(int itemId, const RowDiagnosis& row);

// The next step of each code among problems, once per code in the order first met, with the
// targets of all its problems after it.
std::vector<std::string> AdviceLines(const std::vector<Problem>& problems);

}  // namespace lumidex
