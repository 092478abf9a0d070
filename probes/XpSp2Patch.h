// The XP SP2 connection-limit patch step: downloads the patch program into the product's
// "xpsp2" folder, starts it hidden with "getliminfo <window handle>", and takes its
// copied-data answer (the current limit) on the window thread.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/ProbeReporter.h"
#include "platform/WindowHandle.h"

namespace lumidex {

inline constexpr uint32_t kPatchAnswerData = 5890;  // dwData of the patch program's answer
inline constexpr int kPatchedLimit = 20;            // a limit above this counts as patched
inline constexpr int kPatchDownloadAttempts = 3;
inline constexpr char kPatchFolder[] = "xpsp2";
inline constexpr char kPatchProgram[] = "XPSP2Patch.exe";
inline constexpr char kPatchTempSuffix[] = ".bak";
inline constexpr char kPatchQueryFormat[] = "getliminfo %d";

inline constexpr char kPatchLaunchFailed[] = "执行补丁程序时失败";
inline constexpr char kPatchCallFailed[] = "调用XPSP2连接数补丁程序时失败";
inline constexpr char kProductDirectoryFailed[] = "获取kelvora目录失败";
inline constexpr char kPatchDirectoryFailed[] = "获取补丁目录失败";
inline constexpr char kPatchDownloading[] = "正在下载XPSp2补丁文件...";
inline constexpr char kPatchDownloadFailedStatus[] = "下载补丁文件失败!";
inline constexpr char kPatchDownloadFailed[] = "下载补丁文件失败";
inline constexpr char kPatchDownloadMoveFailed[] = "下载补丁文件失败(Move)!";
inline constexpr char kPatchDownloaded[] = "下载补丁文件成功";
inline constexpr char kConnectionCount[] = "连接数:";
inline constexpr char kNotPatched[] =
    "您的系统还没有打过xpsp2补丁!请在弹出的补丁对话框中点\"应用补丁\"";

class XpSp2PatchHelper {
public:
    explicit XpSp2PatchHelper(ProbeReporter& reporter);

    // The product's installation directory in Windows form, ending with a backslash; empty
    // when unknown.
    void SetInstallDirectory(std::string directory);
    // The main window: its handle goes to the patch program, which answers to it.
    void SetWindow(platform::WindowHandle window) { m_window = window; }
    // InternetGetConnectedState; unset counts as connected.
    void SetConnectedQuery(std::function<bool()> connected) { m_connected = std::move(connected); }
    void SetPatchUrl(std::string url) { m_url = std::move(url); }

    // Check thread. Download and hidden launch; row 12's status, and on failure its detail,
    // the log, the findings and the error count.
    void RunXpSp2PatchCheck();
    // True when the patch program is in place at PatchPath().
    bool DownloadPatch();
    // 0, or -1 when the installation directory is unknown.
    int PreparePatchPath();
    // Hidden (kSwHide): parameters "getliminfo <window>"; any other mode: none.
    bool LaunchPatch(platform::WindowHandle window, const std::string& path, int showMode);
    // 0 done, 1 URL, 2 file, 3 read, 4 not connected; filePath in Windows form or a host path.
    int DownloadUrlToFile(const std::string& url, const std::string& filePath);

    // Window thread: the copied-data message. True when it was the patch program's answer and
    // row 12 changed; the window then enables its Check button.
    bool OnCopyData(uint32_t dwData, std::string_view text);

    std::string PatchPath() const;

private:
    ProbeReporter& m_reporter;
    std::string m_installDirectory;
    std::string m_url;
    platform::WindowHandle m_window = platform::kNoWindow;
    std::function<bool()> m_connected;
    // Written by the check thread before the launch, read by the window thread's answer.
    mutable std::mutex m_pathLock;
    std::string m_patchPath;
};

// The limit of an answer text "<blanks><digits>|...": the text before the bar without its
// leading blanks, and its leading number (0 when none, clamped to int). False when the bar is
// missing or first.
bool ParsePatchAnswer(std::string_view text, std::string& limitText, int& limit);

}  // namespace lumidex
