#include "probes/XpSp2Patch.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "engine/CheckItem.h"
#include "engine/DiagLog.h"
#include "engine/Diagnosis.h"
#include "engine/Endpoints.h"
#include "engine/FindingsText.h"
#include "platform/AsciiChar.h"
#include "platform/LenientNumber.h"
#include "platform/ShellExecute.h"
#include "platform/UrlDownload.h"
#include "platform/WinePaths.h"

namespace lumidex {
namespace {

constexpr int kLogLevel = 1;
constexpr char kFindingsBreak[] = "\r\n";
constexpr int kTextColumn = 1;

void LogAndFind(std::string_view text) {
    TheDiagLog().Write(text, kLogLevel);
    TheFindingsText().Append(std::string(kFindingsBreak) + std::string(text));
}

// DeleteFileA: a missing file is no concern of the callers.
void DeleteFile(const std::string& windowsPath) {
    std::error_code ec;
    std::filesystem::remove(platform::MapWindowsPath(windowsPath), ec);
}

using platform::IsSpace;

// Row 12 sets itself, partly from the window thread: its problem goes to its own row, not to
// whichever row the walk is on.
void ExplainRow(int row, std::string detail) {
    TheRunDiagnosis().AddProblem(
        row, MakeProblem(ProblemCode::XpSp2PatchMissing, {}, std::move(detail)));
}

}  // namespace

bool ParsePatchAnswer(std::string_view text, std::string& limitText, int& limit) {
    const std::size_t bar = text.find('|');
    if (bar == std::string_view::npos || bar == 0) {
        return false;
    }
    std::string_view before = text.substr(0, bar);
    while (!before.empty() && IsSpace(before.front())) {
        before.remove_prefix(1);
    }
    limitText = std::string(before);
    limit = LenientAtoi(before);
    return true;
}

namespace {

// The window's busy cursor from the start of the download to every return that follows it.
class WaitCursorScope {
public:
    explicit WaitCursorScope(ProbeReporter& reporter) : m_reporter(reporter) {
        m_reporter.ShowWaitCursor(true);
    }
    ~WaitCursorScope() { m_reporter.ShowWaitCursor(false); }
    WaitCursorScope(const WaitCursorScope&) = delete;
    WaitCursorScope& operator=(const WaitCursorScope&) = delete;

private:
    ProbeReporter& m_reporter;
};

}  // namespace

XpSp2PatchHelper::XpSp2PatchHelper(ProbeReporter& reporter)
    : m_reporter(reporter), m_url(endpoints::kPatchUrl) {}

void XpSp2PatchHelper::SetInstallDirectory(std::string directory) {
    m_installDirectory = std::move(directory);
}

std::string XpSp2PatchHelper::PatchPath() const {
    std::lock_guard lock(m_pathLock);
    return m_patchPath;
}

void XpSp2PatchHelper::RunXpSp2PatchCheck() {
    if (!DownloadPatch()) {
        m_reporter.CountReportableError();
        return;
    }
    const int row = m_reporter.FindItemRow(kXpSp2PatchItemId);
    if (LaunchPatch(m_window, PatchPath(), platform::kSwHide)) {
        m_reporter.SetItemStatus(row, CheckStatus::Ok);
        return;
    }
    m_reporter.SetItemText(row, kTextColumn, kPatchLaunchFailed);
    m_reporter.SetItemStatus(row, CheckStatus::Error);
    LogAndFind(kPatchLaunchFailed);
    m_reporter.CountReportableError();
    ExplainRow(row, "launch failed");
}

int XpSp2PatchHelper::PreparePatchPath() {
    if (m_installDirectory.empty()) {
        LogAndFind(kProductDirectoryFailed);
        return -1;
    }
    const std::string folder = m_installDirectory + kPatchFolder;
    const std::string hostFolder = platform::MapWindowsPath(folder);
    std::error_code ec;
    if (!std::filesystem::is_directory(hostFolder, ec)) {
        std::filesystem::create_directory(hostFolder, ec);  // one level; a failure shows later
    }
    char path[4096];
    std::snprintf(path, sizeof path, "%s\\%s", folder.c_str(), kPatchProgram);
    std::lock_guard lock(m_pathLock);
    m_patchPath = path;
    return 0;
}

bool XpSp2PatchHelper::DownloadPatch() {
    const int row = m_reporter.FindItemRow(kXpSp2PatchItemId);
    if (PreparePatchPath() == -1) {
        m_reporter.SetItemText(row, kTextColumn, kPatchDirectoryFailed);
        m_reporter.SetItemStatus(row, CheckStatus::Error);
        ExplainRow(row, "installation directory unknown");
        return false;
    }
    const std::string patchPath = PatchPath();
    const std::string tempPath = patchPath + kPatchTempSuffix;
    DeleteFile(tempPath);
    m_reporter.SetStatusText(kPatchDownloading);
    const WaitCursorScope waitCursor(m_reporter);
    bool downloaded = false;
    for (int attempt = 0; attempt < kPatchDownloadAttempts && !downloaded; ++attempt) {
        downloaded = DownloadUrlToFile(m_url, tempPath) == 0;
    }
    if (!downloaded) {
        m_reporter.SetStatusText(kPatchDownloadFailedStatus);
        m_reporter.SetItemText(row, kTextColumn, kPatchDownloadFailed);
        m_reporter.SetItemStatus(row, CheckStatus::Error);
        DeleteFile(tempPath);
        ExplainRow(row, "download failed");
        return false;
    }
    DeleteFile(patchPath);
    const std::string hostPatch = platform::MapWindowsPath(patchPath);
    std::error_code ec;
    std::filesystem::rename(platform::MapWindowsPath(tempPath), hostPatch, ec);
    if (ec) {
        m_reporter.SetStatusText(kPatchDownloadMoveFailed);
        m_reporter.SetItemText(row, kTextColumn, kPatchDownloadFailed);
        m_reporter.SetItemStatus(row, CheckStatus::Error);
        DeleteFile(tempPath);
        ExplainRow(row, "download could not be moved into place");
        return false;
    }
    // A downloaded program runs as it is on Windows; here it needs its execute bits.
    std::filesystem::permissions(hostPatch,
                                 std::filesystem::perms::owner_exec |
                                     std::filesystem::perms::group_exec |
                                     std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add, ec);
    m_reporter.SetStatusText(kPatchDownloaded);
    m_reporter.SetItemText(row, kTextColumn, kPatchDownloaded);
    return true;
}

bool XpSp2PatchHelper::LaunchPatch(platform::WindowHandle window, const std::string& path,
                                   int showMode) {
    char parameters[64] = "";
    if (showMode == platform::kSwHide) {
        std::snprintf(parameters, sizeof parameters, kPatchQueryFormat, window);
    }
    if (platform::ShellExecuteA(window, "open", path, parameters, nullptr, showMode) >
        platform::kShellExecuteErrorMax) {
        return true;
    }
    TheDiagLog().Write(kPatchCallFailed, kLogLevel);
    return false;
}

int XpSp2PatchHelper::DownloadUrlToFile(const std::string& url, const std::string& filePath) {
    return static_cast<int>(
        platform::DownloadUrlToHostFile(url, platform::MapWindowsPath(filePath), m_connected));
}

bool XpSp2PatchHelper::OnCopyData(uint32_t dwData, std::string_view text) {
    std::string limitText;
    int limit = 0;
    if (dwData != kPatchAnswerData || !ParsePatchAnswer(text, limitText, limit)) {
        return false;
    }
    const int row = m_reporter.FindItemRow(kXpSp2PatchItemId);
    if (limit > kPatchedLimit) {
        const std::string detail = kConnectionCount + limitText;
        m_reporter.SetItemText(row, kTextColumn, detail);
        m_reporter.SetItemStatus(row, CheckStatus::Ok);
        LogAndFind(detail);
        return true;
    }
    LaunchPatch(m_window, PatchPath(), platform::kSwShow);
    m_reporter.SetItemText(row, kTextColumn, kNotPatched);
    m_reporter.SetItemStatus(row, CheckStatus::Warning);
    ExplainRow(row, "connection limit " + limitText);
    return true;
}

}  // namespace lumidex
