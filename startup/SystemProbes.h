// The probes of a real check: the engine's probe interfaces answered by this computer, its
// Wine prefix and the network. Both front ends build their engine with them.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "engine/CheckProbes.h"
#include "platform/ClientProcess.h"
#include "platform/CopyData.h"
#include "platform/WindowHandle.h"
#include "startup/PrefixDiscovery.h"

namespace lumidex {

class XpSp2PatchHelper;

struct SystemProbeSettings {
    // The product's installation directory in Windows form, ending in "\" (empty: unknown).
    std::string installDirectory;
    // Where the patch program sends its answer (the window's copied-data endpoint).
    platform::WindowHandle window = platform::kNoWindow;
    // The prefix start-up chose, and how; its path is named in the software rows' problems.
    PrefixChoice prefix;
};

// Creating them reads and logs the network's global parameters, as the engine's creation
// does.
CheckProbes MakeSystemProbes(const SystemProbeSettings& settings);

// The environment's choice of the one-at-a-time walk, for both front ends:
// LUMIDEX_ONE_AT_A_TIME=1.
inline constexpr char kOneAtATimeVariable[] = "LUMIDEX_ONE_AT_A_TIME";
bool OneAtATimeFromEnvironment();

// The patch helper inside probes made by MakeSystemProbes, for the window's copied-data
// handler; null for other probes.
XpSp2PatchHelper* PatchHelperOf(CheckProbes& probes);

// The client's process as the last run's first software row saw it; none before a run, and
// for other probes.
std::optional<platform::ClientProcess> LastClientOf(CheckProbes& probes);

// Hands every answer waiting at the copied-data endpoint to the patch helper, on the window's
// thread; true when one of them changed the patch row.
bool DeliverPatchAnswers(platform::CopyDataReceiver& answers, CheckProbes& probes);

}  // namespace lumidex
