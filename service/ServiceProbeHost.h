// What the service probes need of the check engine while they walk their lists: the run's
// counters, the progress bar and the stop button. The engine hands itself over through
// EngineProbeHost; tests record instead.
#pragma once

#include "engine/CheckEngine.h"

namespace lumidex::service {

class ServiceProbeHost {
public:
    virtual ~ServiceProbeHost() = default;

    virtual RunCounters& Counters() = 0;
    virtual void SetProgressPos(int position) = 0;
    // When a stop was requested: resets the stop event, clears the running flag and says so.
    virtual bool StopIfRequested() = 0;

    // One more step of the service progress, shown at once.
    void AdvanceProgress() { SetProgressPos(++Counters().serviceProgress); }
};

class EngineProbeHost final : public ServiceProbeHost {
public:
    explicit EngineProbeHost(CheckEngine& engine) : m_engine(engine) {}

    RunCounters& Counters() override { return m_engine.Counters(); }
    void SetProgressPos(int position) override { m_engine.SetProgressPos(position); }
    bool StopIfRequested() override { return m_engine.StopIfRequested(); }

private:
    CheckEngine& m_engine;
};

}  // namespace lumidex::service
