#include "console/RunResultBuilder.h"

#include "engine/Diagnosis.h"
#include "engine/FindingsText.h"
#include "engine/P2pVerdict.h"
#include "engine/PathQuality.h"
#include "engine/ProblemExplanations.h"
#include "platform/WinePaths.h"
#include "startup/LumidexApp.h"
#include "startup/SystemProbes.h"

namespace lumidex {

RunSetting RunSetting::Of(const CLumidexApp& app) {
    return {app.LogPath(), app.Prefix()};
}

RunStart RunStart::Now(const QueuedDiagWindow& window) {
    return {window.Notes(), std::chrono::system_clock::now(), std::chrono::steady_clock::now()};
}

RunResult BuildRunResult(const QueuedDiagWindow& window, CheckEngine& engine, const RunStart& start,
                         const RunSetting& setting) {
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
    result.p2p = TheRunDiagnosis().P2p();
    // The P2P verdict has a block of its own in the text and in the JSON: the notes lines the
    // window shows it by stay out of the summary.
    result.path = TheRunDiagnosis().Path();
    std::string notes = window.Notes();
    // The path lines follow the P2P lines: taken off first.
    const std::string pathLines = PathNotesLines(result.path);
    if (!pathLines.empty() && notes.ends_with(pathLines)) {
        notes.resize(notes.size() - pathLines.size());
    }
    const std::string p2pLines = P2pNotesLines(result.p2p);
    if (!p2pLines.empty() && notes.ends_with(p2pLines)) {
        notes.resize(notes.size() - p2pLines.size());
    }
    // The notes are rebuilt at the start of every run, so the summary is what follows the
    // notes the run began with; anything else (notes reset since) leaves no summary.
    // The summary block and the portal line; the primary causes after them are the
    // diagnosis's.
    if (notes.starts_with(start.notesBefore)) {
        const std::string appended = notes.substr(start.notesBefore.size());
        result.summary = appended.substr(0, appended.find(kPrimaryCausesHeading));
    }
    result.logPath = setting.logPath.empty() ? "" : platform::MapWindowsPath(setting.logPath);
    for (int row = 0; row < window.Model().RowCount(); ++row) {
        result.diagnosis.push_back(TheRunDiagnosis().Row(row));
    }
    result.startedAt = Iso8601Utc(start.at);
    result.durationMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start.steady)
                            .count();
    result.version = LUMIDEX_VERSION;
    result.desktopConnectivity = TheRunDiagnosis().DesktopConnectivity();
    result.winePrefix = setting.winePrefix;
    result.client = LastClientOf(engine.Probes());
    return result;
}

}  // namespace lumidex
