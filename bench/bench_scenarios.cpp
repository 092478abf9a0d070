// bench_scenarios [--build-dir DIR] [SCENARIO...]: wall time of one lumidex-console --json run
// in each lab scenario, one host at a time and concurrently, and whether both runs show the
// same rows, findings and log lines. Each scenario gets a lab of its own (scripts/lab --run),
// inside which this program runs again (--inside DIR) to make the two runs; the console never
// runs anywhere else. Needs root, as the lab does.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "lab/BothWaysText.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using lumidex::labtest::LogLinesWithoutTimes;
using lumidex::labtest::WithoutSampledServers;

const std::vector<std::string> kDefaultScenarios = {
    "healthy",  "gateway-silent",  "no-internet",   "channel-list-silent",
    "dns-down", "trackers-silent", "services-down", "all-silent"};

// The two ways, as file stems in the exchange folder and the console's arguments.
struct Way {
    const char* stem;
    std::vector<std::string> args;
};
const Way kConcurrent{"concurrent", {"--json"}};
const Way kOneAtATime{"one-at-a-time", {"--json", "--one-at-a-time"}};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Runs ARGV with its standard output (and, if given, its standard error) in files; returns the
// exit status (-1 if it did not exit) and sets WALL to the seconds it took.
int RunCommand(const std::vector<std::string>& argv, const fs::path& out, const fs::path& err,
               double& wall) {
    std::fflush(nullptr);  // or the child would write what is still buffered a second time
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        if (!std::freopen(out.c_str(), "wb", stdout) ||
            (!err.empty() && !std::freopen(err.c_str(), "wb", stderr))) {
            ::_exit(127);
        }
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) {
        return -1;
    }
    wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Inside a lab: both runs, one after the other, each leaving its output, log and time in DIR.
int RunInside(const fs::path& dir) {
    const char* labDir = std::getenv("LAB_DIR");
    const char* console = std::getenv("LUMIDEX_CONSOLE");
    if (labDir == nullptr || console == nullptr) {
        std::fprintf(stderr, "bench_scenarios: --inside runs only inside the lab\n");
        return 2;
    }
    for (const Way* way : {&kConcurrent, &kOneAtATime}) {
        std::vector<std::string> argv{console};
        argv.insert(argv.end(), way->args.begin(), way->args.end());
        double wall = 0;
        const int status = RunCommand(argv, dir / (std::string(way->stem) + ".json"), {}, wall);
        // Every run starts the log afresh: what it holds now is this run's.
        fs::copy_file(fs::path(labDir) / "Kelvora/log/Lumidex_log.txt",
                      dir / (std::string(way->stem) + ".log"),
                      fs::copy_options::overwrite_existing);
        WriteFile(dir / (std::string(way->stem) + ".status"),
                  std::to_string(status) + " " + std::to_string(wall) + "\n");
    }
    return 0;
}

// What the window shows of the rows: their ids, names, verdicts and details. The probe records
// beside them carry each run's own round-trip times and order, never the same twice.
std::string RowsShown(const Json& result) {
    Json rows = Json::array();
    for (const Json& row : result["rows"]) {
        rows.push_back({row["id"], row["name"], row["status"], row["detail"]});
    }
    return rows.dump();
}

// "same", "sample" (equal once the sampled servers' numbers are left out) or
// "DIFFERENT".
const char* Compare(const std::string& a, const std::string& b) {
    if (a == b) {
        return "same";
    }
    return WithoutSampledServers(a) == WithoutSampledServers(b) ? "sample" : "DIFFERENT";
}

struct Outcome {
    bool ran = false;
    double wall = 0;
    int status = -1;
    Json result;
    std::string log;  // its lines without times, joined by LF
};

Outcome ReadOutcome(const fs::path& dir, const Way& way) {
    Outcome outcome;
    std::istringstream status(ReadFile(dir / (std::string(way.stem) + ".status")));
    outcome.ran = static_cast<bool>(status >> outcome.status >> outcome.wall);
    outcome.result = Json::parse(ReadFile(dir / (std::string(way.stem) + ".json")), nullptr, false);
    for (const std::string& line :
         LogLinesWithoutTimes(ReadFile(dir / (std::string(way.stem) + ".log")))) {
        outcome.log += line + "\n";
    }
    return outcome;
}

// The folder holding this program's build: build/bench/bench_scenarios -> build.
fs::path OwnBuildDir() {
    return fs::read_symlink("/proc/self/exe").parent_path().parent_path();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> scenarios;
    fs::path buildDir = OwnBuildDir();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--inside" && i + 1 < argc) {
            return RunInside(argv[i + 1]);
        }
        if (arg == "--build-dir" && i + 1 < argc) {
            buildDir = fs::absolute(argv[++i]);
        } else if (arg.rfind("-", 0) == 0) {
            std::fprintf(stderr, "usage: bench_scenarios [--build-dir DIR] [SCENARIO...]\n");
            return 2;
        } else {
            scenarios.push_back(arg);
        }
    }
    if (scenarios.empty()) {
        scenarios = kDefaultScenarios;
    }
    char pattern[] = "/tmp/bench_scenarios.XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("bench_scenarios: mkdtemp");
        return 1;
    }
    const fs::path work = pattern;
    const std::string self = fs::read_symlink("/proc/self/exe");

    std::printf("%-22s %14s %11s %7s  %-9s %-9s %-9s\n", "scenario", "one-at-a-time", "concurrent",
                "ratio", "rows", "findings", "log");
    bool allSame = true;
    for (const std::string& scenario : scenarios) {
        const fs::path dir = work / scenario;
        fs::create_directories(dir);
        // The console inside may run as an unprivileged user; the files are written by root.
        double labWall = 0;
        const int labStatus =
            RunCommand({LUMIDEX_SOURCE_DIR "/scripts/lab", "--no-build", "--build-dir",
                        buildDir.string(), "--run", scenario, "--", self, "--inside", dir.string()},
                       dir / "lab.out", dir / "lab.err", labWall);
        const Outcome one = ReadOutcome(dir, kOneAtATime);
        const Outcome concurrent = ReadOutcome(dir, kConcurrent);
        if (labStatus != 0 || !one.ran || !concurrent.ran || !one.result.is_object() ||
            !concurrent.result.is_object()) {
            std::printf("%-22s no result (see %s)\n", scenario.c_str(), (dir / "lab.err").c_str());
            allSame = false;
            continue;
        }
        const char* rows = Compare(RowsShown(one.result), RowsShown(concurrent.result));
        const char* findings =
            Compare(one.result.value("findings", ""), concurrent.result.value("findings", ""));
        const char* log = Compare(one.log, concurrent.log);
        for (const char* verdict : {rows, findings, log}) {
            allSame = allSame && std::string(verdict) != "DIFFERENT";
        }
        std::printf("%-22s %12.1f s %9.1f s %6.1fx  %-9s %-9s %-9s\n", scenario.c_str(), one.wall,
                    concurrent.wall, concurrent.wall > 0 ? one.wall / concurrent.wall : 0.0, rows,
                    findings, log);
        std::fflush(stdout);
    }
    std::printf(
        "(sample: the same once the numbers of the servers that each run's random sample\n"
        "picked are left out; outputs and logs of both runs in %s)\n",
        work.c_str());
    return allSame ? 0 : 1;
}
