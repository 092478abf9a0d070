// The result of a run as both front ends report it: gathered from the window's queue, the
// engine and the run's shared texts once the run has ended, so that the window's copy and
// save carry what lumidex-console prints.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "console/ConsoleOutput.h"
#include "engine/CheckEngine.h"
#include "engine/QueuedDiagWindow.h"
#include "startup/PrefixDiscovery.h"

namespace lumidex {

class CLumidexApp;

// What a result names beside the run itself: the log the run wrote (Windows form, as the
// application holds it; empty when there is none) and the Wine prefix it read.
struct RunSetting {
    std::string logPath;
    std::optional<PrefixChoice> winePrefix;

    static RunSetting Of(const CLumidexApp& app);
};

// Taken just before the engine starts: the notes the summary will follow, and when.
struct RunStart {
    std::string notesBefore;
    std::chrono::system_clock::time_point at;
    std::chrono::steady_clock::time_point steady;

    static RunStart Now(const QueuedDiagWindow& window);
};

// After the run has ended (its summary written). The rows stay the window's: the result
// points at them and is valid as long as they are not rebuilt.
RunResult BuildRunResult(const QueuedDiagWindow& window, CheckEngine& engine, const RunStart& start,
                         const RunSetting& setting);

}  // namespace lumidex
