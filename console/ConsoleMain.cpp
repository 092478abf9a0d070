#include "console/ConsoleMain.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>

#include "console/ConsoleOptions.h"
#include "console/ConsoleOutput.h"
#include "engine/CheckEngine.h"
#include "engine/Endpoints.h"
#include "engine/FindingsText.h"
#include "engine/QueuedDiagWindow.h"
#include "platform/CopyData.h"
#include "platform/WinePaths.h"
#include "probes/NetworkConfig.h"
#include "probes/SystemInventory.h"
#include "report/ReportBody.h"
#include "report/ReportPoster.h"
#include "report/ReportPreview.h"
#include "startup/LumidexApp.h"
#include "startup/SystemProbes.h"

namespace lumidex {
namespace {

constexpr int kExitClean = 0;
constexpr int kExitErrorsFound = 1;
constexpr int kExitUsage = 2;
constexpr int kExitSubmitFailed = 3;
constexpr int kExitAborted = 130;
constexpr int kPumpSliceMs = 50;
constexpr int kProgressBarWidth = 30;

std::atomic<int> g_interrupts{0};

void OnInterrupt(int) {
    // The first Ctrl+C is the stop button; the second one means it.
    if (g_interrupts.fetch_add(1) >= 1) {
        _exit(kExitAborted);
    }
}

class StderrSink final : public MessageSink {
public:
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon) override {
        std::cerr << caption << ": " << text << "\n";
    }
};

// Draws the status line and a progress bar in place, and prints each verdict as it lands.
class LiveView {
public:
    LiveView(const QueuedDiagWindow& window, bool terminal)
        : m_window(window), m_terminal(terminal) {}

    void OnChange(const WindowChange& change) {
        if (change.kind == WindowChange::Kind::ItemStatus &&
            change.value != static_cast<int>(CheckStatus::NotChecked)) {
            if (const CheckRow* row = m_window.Model().Row(change.row)) {
                ClearLine();
                std::cout << FormatRowLine(*row) << "\n";
            }
        }
        Redraw();
    }

    void ClearLine() {
        if (m_terminal) {
            std::cout << "\r\033[K";
        }
    }

    void Redraw() {
        if (!m_terminal) {
            return;
        }
        const int maximum = m_window.ProgressMaximum();
        const int filled =
            maximum > 0 ? m_window.ProgressPosition() * kProgressBarWidth / maximum : 0;
        std::cout << "\r\033[K[" << std::string(static_cast<size_t>(filled), '#')
                  << std::string(static_cast<size_t>(kProgressBarWidth - filled), '.') << "] "
                  << m_window.StatusLine() << std::flush;
    }

private:
    const QueuedDiagWindow& m_window;
    const bool m_terminal;
};

// Why the window's submit button stays disabled after this run, or empty when it is enabled.
std::string NoSubmitReason(const RunResult& result) {
    if (result.submitEnabled) {
        return {};
    }
    if (!result.reportable) {
        return "nothing to submit: the run found no problem worth reporting";
    }
    return "nothing to submit: the run counted no error";
}

// The submit button's report, sent from the terminal, or with --dry-run shown as it would be
// sent. The outcome or the request goes to stdout, or to stderr when stdout carries JSON.
int SubmitReport(const RunResult& result, const ConsoleOptions& options) {
    std::ostream& out = options.json ? std::cerr : std::cout;
    const std::string reason = NoSubmitReason(result);
    if (!reason.empty()) {
        out << reason << "\n";
        return result.errors > 0 ? kExitErrorsFound : kExitClean;
    }
    const std::string body = BuildReportBody(LocalHostName(), result.findings, options.contact);
    if (options.dryRun) {
        out << FormatReportPreview(body, endpoints::kReportUrl);
        return kExitErrorsFound;
    }
    ReportPoster poster;
    const int status = poster.Post(body, endpoints::kReportUrl);
    if (status == kStatusOk || status == kStatusFound) {
        out << kSubmitSucceeded << "\n";
        return kExitErrorsFound;
    }
    out << kSubmitFailed << "\n";
    return kExitSubmitFailed;
}

int RunCheck(CLumidexApp& app, const ConsoleOptions& options) {
    const bool json = options.json;
    QueuedDiagWindow window;
    // The patch program answers here; the console's main thread is its window thread.
    std::optional<platform::CopyDataReceiver> answers = platform::CopyDataReceiver::Open();
    SystemProbeSettings settings;
    settings.installDirectory = app.InstallDirectory();
    settings.window = answers ? answers->Handle() : platform::kNoWindow;
    settings.prefix = app.Prefix();
    CheckEngine engine(MakeSystemProbes(settings));
    engine.SetOneAtATime(options.oneAtATime || OneAtATimeFromEnvironment());
    // As the window does when it opens: the log starts with every adapter's block.
    LogNetworkConfiguration();
    LiveView view(window, !json && isatty(STDOUT_FILENO));
    if (!json) {
        std::cout << FormatPrefixText(app.Prefix()) << std::flush;
        window.SetObserver([&view](const WindowChange& change) { view.OnChange(change); });
    }
    window.RebuildRows(HasXpSp2Row());
    const std::string notesBefore = window.Notes();

    const auto startedAt = std::chrono::system_clock::now();
    const auto startedSteady = std::chrono::steady_clock::now();
    engine.Start(&window);
    bool stopPressed = false;
    while (engine.IsRunning()) {
        window.ProcessPending(kPumpSliceMs);
        // The patch program's answer updates its row from this thread, during a run too.
        if (answers) {
            DeliverPatchAnswers(*answers, engine.Probes());
        }
        if (!stopPressed && g_interrupts.load() > 0) {
            stopPressed = true;
            window.PressStop();
        }
    }
    window.ProcessPending(0);
    engine.Stop(kCloseStopTimeoutMs);
    view.ClearLine();

    RunCounters& counters = engine.Counters();
    RunResult result;
    result.rows = &window.Model();
    result.total = window.Model().RowCount() - kSeparatorRows;
    result.checked = counters.checkedCount;
    result.warnings = counters.warningCount;
    result.errors = counters.errorCount;
    result.reportable = counters.reportable != 0;
    result.submitEnabled = window.SubmitEnabled();
    result.findings = TheFindingsText().Text();
    // The summary block and the portal line; the primary causes after them are the
    // diagnosis's.
    const std::string appended = window.Notes().substr(notesBefore.size());
    result.summary = appended.substr(0, appended.find(kPrimaryCausesHeading));
    result.logPath = app.LogPath().empty() ? "" : platform::MapWindowsPath(app.LogPath());
    for (int row = 0; row < window.Model().RowCount(); ++row) {
        result.diagnosis.push_back(TheRunDiagnosis().Row(row));
    }
    result.startedAt = Iso8601Utc(startedAt);
    result.durationMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - startedSteady)
                            .count();
    result.version = LUMIDEX_VERSION;
    result.desktopConnectivity = TheRunDiagnosis().DesktopConnectivity();
    result.winePrefix = app.Prefix();
    result.client = LastClientOf(engine.Probes());

    if (json) {
        std::cout << FormatResultJson(result) << "\n";
    } else {
        std::cout << FormatResultText(result, window.Notes());
    }
    if (options.submit) {
        return SubmitReport(result, options);
    }
    return result.errors > 0 ? kExitErrorsFound : kExitClean;
}

}  // namespace

int RunConsole(int argc, char** argv, const std::string& program) {
    const ParsedOptions parsed = ParseConsoleOptions({argv + 1, argv + argc});
    if (!parsed.error.empty()) {
        std::cerr << program << ": " << parsed.error << "\n\n" << ConsoleUsage(program);
        return kExitUsage;
    }
    const ConsoleOptions& options = parsed.options;
    switch (options.action) {
        case ConsoleOptions::Action::Help:
            std::cout << ConsoleUsage(program);
            return kExitClean;
        case ConsoleOptions::Action::Version:
            std::cout << program << " " << LUMIDEX_VERSION << "\n";
            return kExitClean;
        case ConsoleOptions::Action::Endpoints:
            if (options.json) {
                std::cout << FormatJson(EndpointsToJson()) << "\n";
            } else {
                std::cout << FormatEndpointsText();
            }
            return kExitClean;
        case ConsoleOptions::Action::Check:
            break;
    }

    std::signal(SIGINT, OnInterrupt);
    StderrSink sink;
    CLumidexApp app(sink);
    app.SetPrefixOption(options.prefix.empty() ? PrefixFromEnvironment() : options.prefix);
    int exitCode = kExitClean;
    app.InitInstance([&](CLumidexApp& started) { exitCode = RunCheck(started, options); });
    return exitCode;
}

}  // namespace lumidex
