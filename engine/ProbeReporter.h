// What a probe reports through while it walks a list of hosts or sets a row itself: rows,
// the status line, progress, the run's counters and the stop button. CheckEngine is the real
// one; tests record instead. Callable from the check thread and, for the patch program's
// answer, the window thread: none of these take the engine lock.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include "engine/CheckStatus.h"

namespace lumidex {

// The results a run accumulates. Written by the check thread, read by the window thread.
struct RunCounters {
    std::atomic<int> checkedCount{0};
    std::atomic<int> errorCount{0};
    std::atomic<int> warningCount{0};
    // Set by failing checks whose findings are worth sending; never cleared in a process.
    std::atomic<int> reportable{0};
    // The progress-bar position during the service checks; the service probes advance it.
    std::atomic<int> serviceProgress{0};
};

class ProbeReporter {
public:
    virtual ~ProbeReporter() = default;

    virtual RunCounters& Counters() = 0;
    virtual int FindItemRow(int id) = 0;
    virtual int FindItemRowByName(const std::string& prefix) = 0;
    virtual void SetCurrentItem(int row) = 0;
    virtual void SetItemStatus(int row, CheckStatus status) = 0;
    virtual void SetItemText(int row, int column, std::string_view text) = 0;
    virtual void SetStatusText(std::string_view text) = 0;
    // The window's busy cursor while the check thread downloads the patch.
    virtual void ShowWaitCursor(bool shown) = 0;
    virtual void SetProgressPos(int position) = 0;
    virtual void EnsureItemVisible(int row) = 0;
    // When a stop was requested: resets the stop event, clears the running flag and says so.
    virtual bool StopIfRequested() = 0;
    // The same without the poll's wait, where a walk passes over entries it does not probe:
    // a list of thousands would otherwise cost the wait thousands of times.
    virtual bool StopIfRequestedAtOnce() { return StopIfRequested(); }

    // One more step of the service progress, shown at once.
    void AdvanceProgress() { SetProgressPos(++Counters().serviceProgress); }
    // One more error, and the run's findings become worth sending.
    virtual void CountReportableError() {
        ++Counters().errorCount;
        Counters().reportable = 1;
    }
};

// "正常连接:N%", the detail of every service row that reports a share.
std::string NormalShareText(int percent);

}  // namespace lumidex
