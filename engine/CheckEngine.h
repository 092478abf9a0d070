// The check run: owns the worker thread that runs the check phases against a DiagWindow,
// reports rows, status line and progress to it, honours the stop button and writes the
// end-of-run summary into the notes.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/CheckProbes.h"
#include "engine/CheckStatus.h"
#include "engine/DiagWindow.h"
#include "engine/InterceptionFindings.h"
#include "engine/ProbeReporter.h"
#include "engine/ProblemExplanations.h"
#include "platform/WorkerThread.h"

namespace lumidex {

inline constexpr char kCheckThreadName[] = "检测线程开始运行";
inline constexpr char kBasicChecksEnded[] = "基本网络检测结束";
inline constexpr char kServiceChecksEnded[] = "KLV服务检测结束";
inline constexpr char kFindingsStart[] = "\r\n开始基本网络检测";
inline constexpr int kSeparatorRows = 2;
// How long a window closing may wait for the run before giving up on it.
inline constexpr int kCloseStopTimeoutMs = 100000;
inline constexpr int kStopPollMs = 10;

// Shutdown order for a window that owns an engine: close the window's queue first
// (QueuedDiagWindow::Close or its toolkit's equivalent), then Stop, then destroy the engine.
// The destructor waits for any run still executing, even one an earlier Stop gave up on;
// with the queue closed every sent call of that run returns at once, so the wait ends.
class CheckEngine : public WorkerThread, public ProbeReporter {
public:
    // Without probes the phases only reset the run's counters (scripted tests fill them).
    CheckEngine() = default;
    explicit CheckEngine(CheckProbes probes) : m_probes(std::move(probes)) {}
    ~CheckEngine() override;

    // Window thread. Nothing happens without a window. True when a run's thread started.
    bool Start(DiagWindow* window);
    bool Stop(int timeoutMs);
    // 1 while the check phases execute. The window learns of the rise when the run starts
    // and of the drop only with the run's end, once everything the run started has ended and
    // the summary is written.
    int Running() const { return m_running.load(); }
    // A run's thread is alive and has not yet reported its end.
    bool RunBusy() { return IsRunning() && !m_endReported; }

    // The one-at-a-time walk: every probe at its place in the walk, none ahead of it and none
    // side by side. Otherwise probes wait side by side and the walk takes their results in
    // its order, so that the window sees no difference but time. Set before Start.
    void SetOneAtATime(bool oneAtATime) { m_oneAtATime = oneAtATime; }
    bool OneAtATime() const { return m_oneAtATime.load(); }

    RunCounters& Counters() override { return m_counters; }
    // The engine's probes, for the window's handlers that answer them (the patch program).
    CheckProbes& Probes() { return m_probes; }
    // The captive portal this run found in front of the web; check thread only.
    std::optional<PortalFinding>& Portal() { return m_portal; }
    // A channel server or tracker answered over UDP this run; check thread only. The
    // peer-reachability verdict tells a blocked network from silent STUN servers by it.
    void NoteUdpServerAnswered() { m_udpServerAnswered = true; }

    // The summary block appended to the notes at the end of a run.
    static std::string FormatSummary(int total, int checked, int warnings, int errors);

    // What every check reports through. Posted ones return at once. Callable from the
    // window thread during a run too (the patch program's answer does): they never take the
    // engine lock.
    int FindItemRow(int id) override;
    int FindItemRowByName(const std::string& prefix) override;
    void SetCurrentItem(int row) override;
    void SetItemStatus(int row, CheckStatus status) override;
    void SetItemText(int row, int column, std::string_view text) override;
    void SetStatusText(std::string_view text) override;
    void ShowWaitCursor(bool shown) override;
    void SetProgressRange(int maximum);
    void SetProgressPos(int position) override;
    void EnsureItemVisible(int row) override;
    // Waits up to 10 ms on the stop event.
    bool StopRequested();
    // The start of every item: finds its row, selects it and brings it into view, shows
    // statusText on the status line and counts the check. Returns the row (-1 for none).
    int BeginItem(int id, std::string_view statusText);
    // The end of an item: its detail and icon.
    void SetVerdict(int row, std::string_view detail, CheckStatus status);
    // A problem worth reporting: the verdict, its counter (by status), one log line and one
    // findings line with the detail, and the reportable flag.
    void ReportProblem(int row, const std::string& detail, CheckStatus status);
    // The phases' stop point: when a stop was requested, resets the event, clears the
    // running flag and says so, and the phase returns.
    bool StopIfRequested() override;
    bool StopIfRequestedAtOnce() override;

protected:
    int Run() override;
    // The two check phases. Virtual so that tests can put scripted phases in their place.
    virtual void RunBasicChecks();
    virtual void RunServiceChecks();
    // Sets the flag; tells the window of a rise (the drop waits for the run's end).
    void SetRunning(int running);

private:
    DiagWindow* Window();
    // What explains what among every row's problems; keeps it for the row tips too.
    RunExplanation ExplainThisRun();
    // The phases, each in a file of its own.
    void RunNetworkChecks(NetworkProbes& probes);
    void RunSoftwareChecks(SoftwareProbes& probes);
    void RunServicePhase(ServiceProbes& probes);
    // Takes the P2P probes' observations (starting them first unless they started with the
    // run) and keeps the verdict; a stop, seen before or while they run, abandons them.
    void RunP2pProbes(P2pProbes& probes, bool startedAhead);
    // Runs collect, which waits up to its probes' bound, on a thread of its own: a press of the
    // stop button must not wait that long, so it calls abandon, which ends collect at once.
    // False when the run was stopped.
    bool CollectUnlessStopped(const std::function<void()>& collect,
                              const std::function<void()>& abandon);
    // The path bursts, once the server walk has answers (the gateway's too unless it started
    // with the run); then, after the rows, their results and the traces. A stop abandons them.
    void StartPathBursts(PathProbes& probes, bool gatewayStarted);
    void RunPathProbes(PathProbes& probes);
    // Up to kMaxPathBurstServers trackers that answered, else channel servers; "a.b.c.d:port".
    std::vector<std::string> AnsweredUdpServers();
    // The hosts the rows found silent or lossy, in row order.
    std::vector<std::string> PathTraceTargets();

    std::atomic<int> m_running{0};
    std::atomic<bool> m_oneAtATime{false};
    // Set as the run posts its end, the last thing it does; cleared by Start.
    std::atomic<bool> m_endReported{false};
    // Held by the check thread for both phases. The window thread only tries it in Start.
    std::recursive_mutex m_engineLock;
    // Set before the thread starts; read without the engine lock, so that the window thread
    // can report while the check thread holds that lock and waits for the window.
    std::atomic<DiagWindow*> m_window{nullptr};
    RunCounters m_counters;
    CheckProbes m_probes;
    std::optional<PortalFinding> m_portal;
    bool m_udpServerAnswered = false;
    bool m_pathBurstsStarted = false;
};

}  // namespace lumidex
