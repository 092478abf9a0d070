// Throughput of the diagnostic log: entries per second through the whole path (GBK
// conversion, open, lock, one write, close) into a scratch file.
//
//   bench_diaglog [entries] [directory]   (defaults: 20000, $TMPDIR or /tmp)

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/DiagLog.h"
#include "platform/TextCodec.h"

namespace {

// A typical probe line: Chinese text, an address and a number.
const std::string kText =
    "\r\n\xE6\x9C\xAC\xE5\x9C\xB0IP: 192.0.2.7, \xE7\xBD\x91\xE5\x85\xB3 "
    "192.0.2.1 \xE5\xBB\xB6\xE8\xBF\x9F 12 ms";

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

long long FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// file is the host path written to; logPath the path given to the log (host or Windows form).
void Run(const std::string& label, const std::string& file, const std::string& logPath,
         long entries, int threads) {
    std::remove(file.c_str());
    lumidex::DiagLog log;
    log.SetLevel(1);
    log.SetPath(logPath);
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&log, entries, threads] {
            for (long i = 0; i < entries / threads; ++i) {
                log.Write(kText, 1);
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    const long written = entries / threads * threads;
    std::printf("%s, %d thread(s): %ld entries in %.3f s = %.0f entries/s, file %lld bytes\n",
                label.c_str(), threads, written, seconds, written / seconds, FileSize(file));
    std::remove(file.c_str());
}

void RunCodec(long entries) {
    std::size_t bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < entries; ++i) {
        bytes += lumidex::platform::Utf8ToGbk(kText).size();
    }
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    std::printf("codec alone: %ld texts in %.3f s = %.0f texts/s, %zu GBK bytes\n", entries,
                seconds, entries / seconds, bytes);
}

}  // namespace

int main(int argc, char** argv) {
    const long entries = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 20000;
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = argc > 2 ? argv[2] : (tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
    if (entries <= 0) {
        std::fprintf(stderr, "usage: bench_diaglog [entries > 0] [directory]\n");
        return 2;
    }
    const std::string file = dir + "/bench_diaglog_" + std::to_string(::getpid()) + ".txt";
    RunCodec(entries);
    Run("host path", file, file, entries, 1);
    Run("host path", file, file, entries, 8);

    // The real set-up: a Windows path mapped into a Wine prefix before every open.
    const std::string prefix = dir + "/bench_diaglog_prefix_" + std::to_string(::getpid());
    const std::string logDir = prefix + "/drive_c/log";
    std::filesystem::create_directories(logDir);
    ::setenv("WINEPREFIX", prefix.c_str(), 1);
    Run("Windows path", logDir + "/Lumidex_log.txt", "C:\\log\\Lumidex_log.txt", entries, 1);
    std::error_code ec;
    std::filesystem::remove_all(prefix, ec);
    return 0;
}
