// How long the search for the client's prefix takes on a home full of prefixes: every
// layout the search knows, each prefix with a machine hive of a prefix with a few programs
// installed, the client in only one of them (the last looked at). The search runs at every
// start, before the window appears, so it has to stay well under a blink.
//
//   bench_prefix_discovery [prefixes] [hive MiB]   (default 50 prefixes of 3 MiB)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "startup/PrefixDiscovery.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kLayouts[] = {
    ".local/share/bottles/bottles/b",
    ".var/app/com.usebottles.bottles/data/bottles/bottles/f",
    "Games/g",
    ".PlayOnLinux/wineprefix/p",
    ".cxoffice/c",
    ".local/share/wineprefixes/w",
    ".local/share/Steam/steamapps/compatdata/",
};

void WritePrefix(const fs::path& prefix, std::size_t hiveBytes, bool client) {
    fs::create_directories(prefix / "drive_c" / "Kelvora");
    std::ofstream out(prefix / "system.reg", std::ios::binary);
    out << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n";
    std::size_t written = 0;
    for (long i = 0; written < hiveBytes; ++i) {
        const std::string key = "[Software\\\\Classes\\\\CLSID\\\\{" + std::to_string(i) +
                                "-0000-0000-C000-000000000046}] 1700000000\n#time=1d9a0c2b3c4d5e6\n"
                                "@=\"Some COM class " +
                                std::to_string(i) + "\"\n\"ThreadingModel\"=\"Both\"\n\n";
        out << key;
        written += key.size();
    }
    if (client) {
        out << "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Kelvora_is1] "
               "1\n"
               "\"InstallLocation\"=\"C:\\\\Kelvora\\\\\"\n";
    }
    std::ofstream(prefix / "user.reg") << "WINE REGISTRY Version 2\n";
}

}  // namespace

int main(int argc, char** argv) {
    const int prefixes = argc > 1 ? std::atoi(argv[1]) : 50;
    const std::size_t hiveBytes = (argc > 2 ? std::atoi(argv[2]) : 3) * (std::size_t{1} << 20);
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/lumidex-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path home = pattern;
    std::vector<std::string> placed;
    for (int i = 0; i < prefixes; ++i) {
        const std::string layout = kLayouts[i % std::size(kLayouts)];
        const bool steam = layout.ends_with('/');
        placed.push_back(layout + std::to_string(i) + (steam ? "/pfx" : ""));
    }
    // The client in the prefix looked at last: Steam's.
    std::stable_partition(placed.begin(), placed.end(), [](const std::string& p) {
        return p.find("Steam") == std::string::npos;
    });
    for (std::size_t i = 0; i < placed.size(); ++i) {
        WritePrefix(home / placed[i], hiveBytes, i + 1 == placed.size());
    }

    lumidex::PrefixEnvironment environment;
    environment.home = home.string();
    std::vector<double> runs;
    lumidex::PrefixChoice choice;
    for (int run = 0; run < 11; ++run) {
        const auto start = Clock::now();
        choice = lumidex::DiscoverPrefix(environment);
        runs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    const double first = runs.front();
    std::sort(runs.begin() + 1, runs.end());
    std::printf(
        "%d prefixes of %zu MiB hives: first search %.1f ms, then median %.1f ms, "
        "worst %.1f ms (found by %s: %s)\n",
        prefixes, hiveBytes >> 20, first, runs[6], runs.back(),
        std::string(lumidex::PrefixSourceName(choice.foundBy)).c_str(), choice.path.c_str());
    fs::remove_all(home);
    return choice.ClientFound() ? 0 : 1;
}
