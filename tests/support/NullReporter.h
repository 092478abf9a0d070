// A ProbeReporter that does nothing: tests derive from it and record only what they check.
#pragma once

#include "engine/ProbeReporter.h"

namespace lumidex::testing {

class NullReporter : public ProbeReporter {
public:
    RunCounters& Counters() override { return counters; }
    int FindItemRow(int) override { return 0; }
    int FindItemRowByName(const std::string&) override { return 0; }
    void SetCurrentItem(int) override {}
    void SetItemStatus(int, CheckStatus) override {}
    void SetItemText(int, int, std::string_view) override {}
    void SetStatusText(std::string_view) override {}
    void ShowWaitCursor(bool) override {}
    void SetProgressPos(int) override {}
    void EnsureItemVisible(int) override {}
    bool StopIfRequested() override { return false; }

    RunCounters counters;
};

}  // namespace lumidex::testing
