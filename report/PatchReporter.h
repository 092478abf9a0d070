// What the patch helper reports through: the engine's row, status-line and counter
// operations. The download runs on the check thread, the patch program's answer on the
// window thread; both use the same reporter.
#pragma once

#include <string_view>

#include "engine/CheckEngine.h"
#include "engine/CheckStatus.h"

namespace lumidex {

class PatchReporter {
public:
    virtual ~PatchReporter() = default;
    virtual int FindItemRow(int id) = 0;
    virtual void SetItemText(int row, int column, std::string_view text) = 0;
    virtual void SetItemStatus(int row, CheckStatus status) = 0;
    virtual void SetStatusText(std::string_view text) = 0;
    // The window's busy cursor during the download.
    virtual void ShowWaitCursor(bool shown) = 0;
    // One more error, and the run's findings become worth sending.
    virtual void CountReportableError() = 0;
};

// The reporter of a real run: the engine's own operations and counters.
class EnginePatchReporter : public PatchReporter {
public:
    explicit EnginePatchReporter(CheckEngine& engine) : m_engine(engine) {}
    int FindItemRow(int id) override { return m_engine.FindItemRow(id); }
    void SetItemText(int row, int column, std::string_view text) override {
        m_engine.SetItemText(row, column, text);
    }
    void SetItemStatus(int row, CheckStatus status) override {
        m_engine.SetItemStatus(row, status);
    }
    void SetStatusText(std::string_view text) override { m_engine.SetStatusText(text); }
    void ShowWaitCursor(bool shown) override { m_engine.ShowWaitCursor(shown); }
    void CountReportableError() override {
        ++m_engine.Counters().errorCount;
        m_engine.Counters().reportable = 1;
    }

private:
    CheckEngine& m_engine;
};

}  // namespace lumidex
