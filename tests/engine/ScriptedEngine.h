// A CheckEngine whose phases are scripts supplied by the test, and a helper that plays the
// window thread until the run has ended.
#pragma once

#include <chrono>
#include <functional>
#include <vector>

#include "engine/CheckEngine.h"
#include "engine/QueuedDiagWindow.h"

namespace lumidex::testing {

class ScriptedEngine : public CheckEngine {
public:
    std::function<void(ScriptedEngine&)> basic;
    std::function<void(ScriptedEngine&)> service;
    std::atomic<int> runs{0};
    std::atomic<int> serviceCalls{0};

    ~ScriptedEngine() override { WaitForEveryRun(); }

    using CheckEngine::SetRunning;

protected:
    int Run() override {
        ++runs;
        return CheckEngine::Run();
    }
    void RunBasicChecks() override {
        CheckEngine::RunBasicChecks();
        if (basic) {
            basic(*this);
        }
    }
    void RunServiceChecks() override {
        ++serviceCalls;
        CheckEngine::RunServiceChecks();
        if (service) {
            service(*this);
        }
    }
};

// Pumps the window's queue on this thread until the engine's thread has ended and every
// queued change is applied. Gives up after a generous guard so a hang fails, not blocks.
inline bool PumpUntilIdle(QueuedDiagWindow& window, CheckEngine& engine,
                          std::chrono::seconds guard = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + guard;
    while (engine.IsRunning()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        window.ProcessPending(20);
    }
    window.ProcessPending(0);
    return true;
}

}  // namespace lumidex::testing
