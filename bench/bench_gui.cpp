// bench_gui: how fast the window opens, how much memory it holds after a run, and how much
// CPU it takes while idle. Runs on the offscreen platform with an engine whose phases probe
// nothing, so it sends no traffic anywhere.
//
//   bench_gui                  prints the three figures (start-up as the median of several starts)
//   bench_gui --system         the same for the window as lumidex opens it (start-up, system
//                              probes, a real check): only inside the lab,
//                              scripts/lab --run healthy -- bench_gui --system
//   bench_gui --console PATH   the memory of one lumidex-console run (inside the lab as well)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/LumidexDlg.h"
#include "app/MainWindow.h"
#include "startup/LumidexApp.h"

namespace lumidex {
namespace {

constexpr int kStarts = 7;
constexpr int kIdleSeconds = 10;

// A run that goes through the whole engine and window path but checks nothing.
class QuietEngine final : public CheckEngine {
public:
    ~QuietEngine() override { WorkerThread::Stop(nullptr, 0); }

protected:
    void RunBasicChecks() override { CheckEngine::RunBasicChecks(); }
    void RunServiceChecks() override { CheckEngine::RunServiceChecks(); }
};

DialogServices Silent() {
    DialogServices services = DialogServices::Desktop();
    services.showMessage = [](QWidget*, const QString&, const QString&, MessageIcon) {};
    services.openExternal = [](const QString&) { return true; };
    services.postReport = [](const std::string&) { return 0; };
    return services;
}

// A "VmRSS:"-style field of /proc/PID/status in KiB; -1 when the process is gone.
long StatusKib(const std::string& pid, const char* field) {
    std::ifstream status("/proc/" + pid + "/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0) {
            return std::stol(line.substr(length));
        }
    }
    return -1;
}

long ResidentKib() {
    return StatusKib("self", "VmRSS:");
}

class NoBoxes final : public MessageSink {
public:
    void ShowMessage(const std::string&, const std::string&, MessageIcon) override {}
};

bool g_system = false;

// Runs body with the window: the quiet one, or with --system the one lumidex opens (through
// the application's start-up, on the system probes).
template <typename Body>
void WithWindow(const Body& body) {
    if (!g_system) {
        CLumidexDlg dialog("", std::make_unique<QuietEngine>(), Silent());
        body(dialog);
        return;
    }
    NoBoxes sink;
    CLumidexApp app(sink);
    app.InitInstance([&body](CLumidexApp& started) {
        MainWindow window(started, Silent());
        body(window.Dialog());
    });
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Child: open the window and say so on fd 3 as soon as it is shown.
int ChildStart(int argc, char** argv) {
    QApplication application(argc, argv);
    WithWindow([](CLumidexDlg& dialog) {
        dialog.show();
        QApplication::processEvents();
        [[maybe_unused]] const ssize_t written = ::write(3, "shown\n", 6);
    });
    return 0;
}

// Child: a run, then the memory it holds, then a quiet period.
int ChildRun(int argc, char** argv) {
    QApplication application(argc, argv);
    WithWindow([&application](CLumidexDlg& dialog) {
        dialog.show();
        QApplication::processEvents();
        std::printf("resident memory with the window shown: VmRSS %ld KiB\n", ResidentKib());
        const auto started = std::chrono::steady_clock::now();
        dialog.OnCheck();
        while (dialog.Engine().IsRunning()) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        QApplication::processEvents();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("resident memory after a run (%.1f s): VmRSS %ld KiB, VmHWM %ld KiB\n", seconds,
                    ResidentKib(), StatusKib("self", "VmHWM:"));
        const double before = CpuSeconds();
        QTimer::singleShot(kIdleSeconds * 1000, &application, &QApplication::quit);
        application.exec();
        const double used = CpuSeconds() - before;
        std::printf("CPU while idle: %.2f ms over %d s (%.3f%%)\n", used * 1000, kIdleSeconds,
                    used * 100 / kIdleSeconds);
    });
    return 0;
}

// The console's memory: its status sampled while it runs (the last sample is taken just
// before it exits), and the kernel's peak from wait4.
int MeasureConsole(const char* console) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::execl(console, console, "--json", nullptr);
        _exit(127);
    }
    const std::string id = std::to_string(pid);
    long lastRss = -1;
    long lastHwm = -1;
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
        const long rss = StatusKib(id, "VmRSS:");
        const long hwm = StatusKib(id, "VmHWM:");
        if (rss > 0 && hwm > 0) {
            lastRss = rss;
            lastHwm = hwm;
        }
        ::usleep(5000);
    }
    std::printf("lumidex-console --json: last VmRSS %ld KiB, VmHWM %ld KiB, peak (wait4) %ld KiB\n",
                lastRss, lastHwm, usage.ru_maxrss);
    return 0;
}

// Parent: wall time from fork to the child's "shown".
double TimeOneStart(const char* self) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return -1;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 3);
        ::execl(self, self, "--child-start", g_system ? "--system" : nullptr, nullptr);
        _exit(127);
    }
    ::close(pipeFds[1]);
    char buffer[16];
    const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
    const auto shown = std::chrono::steady_clock::now();
    ::close(pipeFds[0]);
    ::waitpid(pid, nullptr, 0);
    if (got <= 0) {
        return -1;
    }
    return std::chrono::duration<double, std::milli>(shown - start).count();
}

}  // namespace
}  // namespace lumidex

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (argc > 2 && std::strcmp(argv[1], "--console") == 0) {
        return lumidex::MeasureConsole(argv[2]);
    }
    lumidex::g_system = std::strcmp(argv[argc - 1], "--system") == 0;
    if (argc > 1 && std::strcmp(argv[1], "--child-start") == 0) {
        return lumidex::ChildStart(argc, argv);
    }
    if (argc > 1 && std::strcmp(argv[1], "--child-run") == 0) {
        return lumidex::ChildRun(argc, argv);
    }
    std::vector<double> times;
    for (int i = 0; i < lumidex::kStarts; ++i) {
        times.push_back(lumidex::TimeOneStart(argv[0]));
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "process start to window shown (offscreen): median %.1f ms, min %.1f, max %.1f"
        " over %d starts\n",
        times[times.size() / 2], times.front(), times.back(), lumidex::kStarts);
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(argv[0], argv[0], "--child-run", lumidex::g_system ? "--system" : nullptr, nullptr);
        _exit(127);
    }
    ::waitpid(pid, nullptr, 0);
    return 0;
}
