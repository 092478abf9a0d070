// Time of the Internet reachability probe. With host:port arguments, probes those sites (the
// lab's); without, three loopback scenarios: ten answering listeners, ten refusing ports and
// ten silent listeners (full backlog, so connects stay pending until aborted).
//
//   bench_internet_probe [--runs N] [host:port ...]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "probes/InternetProbe.h"
#include "support/LoopbackServer.h"

namespace {

using Clock = std::chrono::steady_clock;

void Measure(const char* name, const std::vector<std::string>& sites, int runs) {
    std::vector<double> ms;
    unsigned percentage = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        percentage = lumidex::CheckInternetConnection(sites);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-28s sites %2zu  result %3u %%  min %8.2f ms  median %8.2f ms  max %8.2f ms\n",
                name, sites.size(), percentage, ms.front(), ms[ms.size() / 2], ms.back());
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    std::vector<std::string> sites;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else {
            sites.emplace_back(argv[i]);
        }
    }
    if (!sites.empty()) {
        Measure("given sites", sites, runs);
        return 0;
    }
    using lumidex::testing::LoopbackListener;
    using lumidex::testing::LoopbackSite;
    std::vector<lumidex::platform::UniqueFd> held;
    std::vector<std::string> answering, refusing, silentSites;
    for (int i = 0; i < 10; ++i) {
        std::uint16_t port = 0;
        held.push_back(LoopbackListener(64, port));
        answering.push_back(LoopbackSite(port));
        held.push_back(LoopbackListener(-1, port));
        refusing.push_back(LoopbackSite(port));
    }
    lumidex::testing::FullBacklogListener silent;
    silentSites.assign(10, LoopbackSite(silent.Port()));
    Measure("ten answering (loopback)", answering, runs);
    Measure("ten refusing (loopback)", refusing, std::min(runs, 2));
    Measure("ten silent, aborted", silentSites, std::min(runs, 2));
    return 0;
}
