// Process start-up shared by every front end: the socket layer, the single-instance guard,
// the Wine prefix holding the product, the product's installation directory from its
// registry, and the emptied, enabled log.
// The front end passes its main window as a function that runs until the window closes.
#pragma once

#include <functional>
#include <string>

#include "startup/MessageSink.h"
#include "startup/PrefixDiscovery.h"

namespace lumidex {

inline constexpr char kInstanceGuardName[] = "Lumidex_ERR";
inline constexpr char kSecondCopyFormat[] = "检测到另一个%s在运行中,点击确定后将退出!";
inline constexpr char kSocketStartFailed[] = "网络初始化失败,点击确定后程序将退出!";
inline constexpr char kErrorCaption[] = "错误";
inline constexpr char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr char kProductUninstallEntry[] = "Kelvora_is1";
inline constexpr char kInstallLocationValue[] = "InstallLocation";
inline constexpr char kLogFileTail[] = "log\\Lumidex_log.txt";

class CLumidexApp {
public:
    using MainDialog = std::function<void(CLumidexApp&)>;

    explicit CLumidexApp(MessageSink& sink) : m_sink(sink) {}

    // Where the single-instance lock file lives; empty for the per-user default.
    void SetGuardDirectory(std::string directory) { m_guardDirectory = std::move(directory); }
    // Where the lock file goes when the first directory cannot hold it.
    void SetGuardFallbackDirectory(std::string directory) {
        m_guardFallbackDirectory = std::move(directory);
    }

    // The user's own choice of prefix (--prefix, LUMIDEX_PREFIX); "" to search for it.
    void SetPrefixOption(std::string prefix) { m_prefixOption = std::move(prefix); }

    // Brings the process up, runs mainDialog, and tears down. Returns the process exit code:
    // 0 also when a second copy or a missing socket layer ends the start (after telling the
    // user, as the message says).
    int InitInstance(const MainDialog& mainDialog);

    // The prefix the Windows side is read from while InitInstance runs, and how it was found.
    const PrefixChoice& Prefix() const { return m_prefix; }

    // Empty until read; when set it ends with a backslash (Windows form, as the registry
    // holds it).
    const std::string& InstallDirectory() const { return m_installDirectory; }
    // Empty when the product is not installed: logging is then off for the whole run.
    const std::string& LogPath() const { return m_logPath; }

private:
    void ReadInstallDirectory();
    void PrepareLog();

    MessageSink& m_sink;
    std::string m_prefixOption;
    PrefixChoice m_prefix;
    std::string m_guardDirectory;
    std::string m_guardFallbackDirectory = "/tmp";
    std::string m_installDirectory;
    std::string m_logPath;
};

// The log path for an installation directory as the registry holds it ("" for none).
std::string LogPathFor(std::string installDirectory);

// The environment's choice of prefix for both front ends, beside their own option.
inline constexpr char kPrefixVariable[] = "LUMIDEX_PREFIX";
std::string PrefixFromEnvironment();

}  // namespace lumidex
