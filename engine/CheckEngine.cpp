#include "engine/CheckEngine.h"

#include <atomic>
#include <cstdio>
#include <thread>

#include "engine/CheckItem.h"
#include "engine/DiagLog.h"
#include "engine/Diagnosis.h"
#include "engine/FindingsText.h"
#include "engine/P2pVerdict.h"
#include "engine/PathQuality.h"
#include "engine/ProblemExplanations.h"

namespace lumidex {

CheckEngine::~CheckEngine() {
    // The phases use this object's members; every thread that may still be in Run must be
    // gone before they are, including one that an earlier Stop stopped waiting for.
    WaitForEveryRun();
}

bool CheckEngine::Start(DiagWindow* window) {
    if (window == nullptr) {
        return false;
    }
    if (IsRunning()) {
        // A live run holds the engine lock for its whole length: asking for it here would
        // block the window thread until the run ends, only to find that no second run may
        // start. A run that has reported its end has only to return, so the press that
        // follows its end is honoured, never lost to the last instructions of its thread.
        if (!m_endReported) {
            return false;
        }
        WorkerThread::Stop(nullptr, 0);
    }
    // A run that an earlier Stop gave up on may still hold the lock: no second run then.
    std::unique_lock lock(m_engineLock, std::try_to_lock);
    if (!lock.owns_lock()) {
        return false;
    }
    m_window = window;
    m_endReported = false;
    return WorkerThread::Start(kCheckThreadName);
}

bool CheckEngine::Stop(int timeoutMs) {
    return WorkerThread::Stop(nullptr, timeoutMs);
}

DiagWindow* CheckEngine::Window() {
    return m_window.load();
}

RunExplanation CheckEngine::ExplainThisRun() {
    std::vector<RunProblem> problems;
    std::vector<int> rows;  // the list row of each problem
    for (const CheckItem& item : CheckItemTable()) {
        const int row = item.id == kSeparatorId ? -1 : FindItemRow(item.id);
        if (row < 0) {
            continue;
        }
        for (Problem& problem : RowProblems(item.id, TheRunDiagnosis().Row(row))) {
            problems.push_back({item.id, std::move(problem)});
            rows.push_back(row);
        }
    }
    RunExplanation explanation = ExplainRun(problems);
    // The row tips read what explains a row's problems once the run has ended.
    std::vector<std::pair<int, std::vector<ExplainedBy>>> byRow;
    for (std::size_t i = 0; i < explanation.problems.size(); ++i) {
        const ExplainedProblem& problem = explanation.problems[i];
        if (!problem.causedBy) {
            continue;
        }
        if (byRow.empty() || byRow.back().first != rows[i]) {
            byRow.push_back({rows[i], {}});
        }
        byRow.back().second.push_back({problem.problem.code, *problem.causedBy});
    }
    for (auto& [row, explained] : byRow) {
        TheRunDiagnosis().SetExplainedBy(row, std::move(explained));
    }
    return explanation;
}

std::string CheckEngine::FormatSummary(int total, int checked, int warnings, int errors) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer,
                  "\r\n\r\n----------------------------\r\n[检测结束]\r\n\r\n共有%d顶\r\n"
                  "已经检测%d项\r\n警告%d项\r\n错误%d项",
                  total, checked, warnings, errors);
    return buffer;
}

int CheckEngine::Run() {
    DiagWindow* window = Window();
    if (window == nullptr) {
        return -1;
    }
    window->EnableExit(false);
    {
        std::lock_guard lock(m_engineLock);
        SetRunning(1);
        TheRunDiagnosis().Reset();
        m_portal.reset();
        m_udpServerAnswered = false;
        m_pathBurstsStarted = false;
        // They depend on no row: started with the run, they cost it no time of its own.
        const bool p2pAhead = m_probes.p2p && !m_oneAtATime;
        if (p2pAhead) {
            m_probes.p2p->Start();
        }
        const bool pathAhead = m_probes.path && !m_oneAtATime;
        if (pathAhead) {
            m_probes.path->StartGatewayBurst();
        }
        if (m_probes.service && !m_oneAtATime) {
            m_probes.service->WatchStop([this] { return Window()->StopEvent().Wait(0); });
            m_probes.service->StartAhead();
        }
        RunBasicChecks();
        SetStatusText(kBasicChecksEnded);
        if (m_running == 1) {
            RunServiceChecks();
            SetStatusText(kServiceChecksEnded);
        }
        // Side by side the bursts to the servers overlap the wait for the P2P probes.
        if (pathAhead) {
            StartPathBursts(*m_probes.path, true);
        }
        if (m_probes.p2p) {
            RunP2pProbes(*m_probes.p2p, p2pAhead);
        }
        if (m_probes.path) {
            if (!pathAhead) {
                StartPathBursts(*m_probes.path, false);
            }
            RunPathProbes(*m_probes.path);
        }
        // Before the run is over: nothing started for it may still be under way.
        if (m_probes.service) {
            m_probes.service->FinishRun();
        }
        m_running = 0;
    }
    std::string notes = window->NotesText();
    window->EnableExit(true);
    notes += FormatSummary(window->RowCount() - kSeparatorRows, m_counters.checkedCount,
                           m_counters.warningCount, m_counters.errorCount);
    notes += PortalNotesLine(m_portal);
    notes += PrimaryCauseNotes(ExplainThisRun());
    notes += P2pNotesLines(TheRunDiagnosis().P2p());
    notes += PathNotesLines(TheRunDiagnosis().Path());
    window->SetNotesText(notes);
    if (m_counters.reportable != 0 && m_counters.errorCount > 0) {
        window->EnableSubmit(true);
    }
    // The run's end, told once and last: the window takes it as the moment a new run may
    // start and the window may close, so nothing of this run may follow it.
    m_endReported = true;
    window->PostRunning(false);
    return 0;
}

void CheckEngine::RunP2pProbes(P2pProbes& probes, bool startedAhead) {
    if (m_running != 1) {
        if (startedAhead) {
            probes.Abandon();
        }
        return;
    }
    if (!startedAhead) {
        probes.Start();
    }
    P2pObservations observations;
    if (CollectUnlessStopped([&] { observations = probes.Collect(); }, [&] { probes.Abandon(); })) {
        TheRunDiagnosis().SetP2p(DecideP2p(observations, m_udpServerAnswered));
    }
}

bool CheckEngine::CollectUnlessStopped(const std::function<void()>& collect,
                                       const std::function<void()>& abandon) {
    std::atomic<bool> collected{false};
    std::thread collector([&] {
        collect();
        collected = true;
    });
    bool stopped = false;
    while (!collected) {
        if (StopIfRequested()) {
            stopped = true;
            abandon();
            break;
        }
    }
    collector.join();
    return !stopped;
}

void CheckEngine::RunBasicChecks() {
    TheFindingsText().Reset(kFindingsStart);
    m_counters.checkedCount = 0;
    m_counters.errorCount = 0;
    m_counters.warningCount = 0;
    if (!m_probes.network) {
        return;
    }
    RunNetworkChecks(*m_probes.network);
    // A stop during the network items takes effect only here.
    if (StopIfRequested() || !m_probes.software) {
        return;
    }
    RunSoftwareChecks(*m_probes.software);
}

void CheckEngine::RunServiceChecks() {
    m_counters.serviceProgress = 0;
    if (m_probes.service) {
        RunServicePhase(*m_probes.service);
    }
}

int CheckEngine::BeginItem(int id, std::string_view statusText) {
    const int row = FindItemRow(id);
    SetCurrentItem(row);
    EnsureItemVisible(row);
    SetStatusText(statusText);
    ++m_counters.checkedCount;
    return row;
}

void CheckEngine::SetVerdict(int row, std::string_view detail, CheckStatus status) {
    SetItemText(row, 1, detail);
    SetItemStatus(row, status);
}

void CheckEngine::ReportProblem(int row, const std::string& detail, CheckStatus status) {
    SetVerdict(row, detail, status);
    ++(status == CheckStatus::Error ? m_counters.errorCount : m_counters.warningCount);
    Log(detail);
    AddFinding(detail);
    m_counters.reportable = 1;
}

int CheckEngine::FindItemRow(int id) {
    return Window()->FindItemRow(id);
}

int CheckEngine::FindItemRowByName(const std::string& prefix) {
    return Window()->FindItemRowByName(prefix);
}

void CheckEngine::SetCurrentItem(int row) {
    // What the row's probes record from now on is the row's.
    TheRunDiagnosis().SetCurrentRow(row);
    if (row == -1) {
        return;
    }
    Window()->PostCurrentItem(row);
}

void CheckEngine::SetItemStatus(int row, CheckStatus status) {
    Window()->PostItemStatus(row, status);
}

void CheckEngine::SetItemText(int row, int column, std::string_view text) {
    Window()->PostItemText(row, column, std::string(text));
}

void CheckEngine::SetStatusText(std::string_view text) {
    Window()->PostStatusText(std::string(text));
}

void CheckEngine::SetRunning(int running) {
    // Only the rise is told here; the drop (a stop seen, or the phases' end) is told with the
    // run's end, after the work started ahead has ended and the summary is written.
    if (m_running.exchange(running) != running && running != 0) {
        if (DiagWindow* window = Window()) {
            window->PostRunning(true);
        }
    }
}

void CheckEngine::ShowWaitCursor(bool shown) {
    Window()->PostWaitCursor(shown);
}

void CheckEngine::SetProgressRange(int maximum) {
    Window()->SetProgressRange(maximum);
}

void CheckEngine::SetProgressPos(int position) {
    Window()->SetProgressPos(position);
}

void CheckEngine::EnsureItemVisible(int row) {
    Window()->EnsureItemVisible(row);
}

bool CheckEngine::StopRequested() {
    return Window()->StopEvent().Wait(kStopPollMs);
}

bool CheckEngine::StopIfRequested() {
    if (!StopRequested()) {
        return false;
    }
    Window()->StopEvent().Reset();
    SetRunning(0);
    return true;
}

bool CheckEngine::StopIfRequestedAtOnce() {
    if (!Window()->StopEvent().Wait(0)) {
        return false;
    }
    Window()->StopEvent().Reset();
    SetRunning(0);
    return true;
}

}  // namespace lumidex
