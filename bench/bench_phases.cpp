// bench_phases PHASE [RUNS]: wall time of one check phase with the real probes, PHASE being
// network (rows 1 to 7), software (rows 8 to 11) or service (rows 13 to 18). Meant for the lab
// (scripts/lab --run healthy -- bench_phases network): it probes whatever network it is in.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/CheckEngine.h"
#include "engine/QueuedDiagWindow.h"
#include "startup/SystemProbes.h"

namespace {

using lumidex::CheckEngine;
using lumidex::CheckProbes;

double RunOnce(const std::string& phase) {
    CheckProbes all = lumidex::MakeSystemProbes({});
    CheckProbes probes;
    if (phase == "network") {
        probes.network = std::move(all.network);
    } else if (phase == "software") {
        // The software rows follow the network rows in the same phase; time both and subtract
        // the network figure, or read the software rows alone as "basic - network".
        probes.network = std::move(all.network);
        probes.software = std::move(all.software);
    } else {
        probes.service = std::move(all.service);
    }
    lumidex::QueuedDiagWindow window;
    window.RebuildRows(false);
    CheckEngine engine(std::move(probes));
    const auto start = std::chrono::steady_clock::now();
    engine.Start(&window);
    while (engine.IsRunning()) {
        window.ProcessPending(5);
    }
    window.ProcessPending(0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string phase = argc > 1 ? argv[1] : "network";
    if (phase != "network" && phase != "software" && phase != "service") {
        std::fprintf(stderr, "usage: bench_phases network|software|service [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        times.push_back(RunOnce(phase));
    }
    std::sort(times.begin(), times.end());
    std::printf("%s phase, %d runs: median %.1f ms, min %.1f ms, max %.1f ms\n", phase.c_str(),
                runs, times[times.size() / 2], times.front(), times.back());
    return 0;
}
