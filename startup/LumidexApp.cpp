#include "startup/LumidexApp.h"

#include <cstdio>
#include <cstdlib>

#include "engine/CheckItem.h"
#include "engine/DiagLog.h"
#include "engine/FindingsText.h"
#include "platform/InstanceGuard.h"
#include "platform/LocalFile.h"
#include "platform/RegistryReader.h"
#include "platform/SocketLayer.h"
#include "platform/SystemError.h"
#include "platform/WinePaths.h"

namespace lumidex {

std::string LogPathFor(std::string installDirectory) {
    if (installDirectory.empty()) {
        return {};
    }
    if (installDirectory.back() != '\\') {
        installDirectory += '\\';
    }
    return installDirectory + kLogFileTail;
}

int CLumidexApp::InitInstance(const MainDialog& mainDialog) {
    if (!platform::StartSocketLayer()) {
        m_sink.ShowMessage(kSocketStartFailed, kErrorCaption, MessageIcon::Error);
        platform::StopSocketLayer();
        return 0;
    }
    // The process-wide pieces exist before anything can use them.
    CheckItemTable();
    TheFindingsText();
    TheDiagLog();

    const auto guard = platform::InstanceGuard::Acquire(kInstanceGuardName, m_guardDirectory,
                                                        m_guardFallbackDirectory);
    if (guard.outcome == platform::GuardAttempt::Outcome::HeldElsewhere) {
        char text[256];
        std::snprintf(text, sizeof text, kSecondCopyFormat, kInstanceGuardName);
        m_sink.ShowMessage(text, kErrorCaption, MessageIcon::Error);
        return 0;
    }
    if (!guard) {
        // A guard that cannot exist must not lock the user out: start without it.
        std::fprintf(stderr, "lumidex: no single-instance lock (%s: %s); starting anyway\n",
                     guard.path.c_str(), platform::ErrnoText(guard.error).c_str());
    }

    m_prefix = DiscoverPrefix(PrefixEnvironment::FromProcess(), m_prefixOption);
    // Every registry and path look-up of this run reads the chosen prefix; the process-wide
    // choice ends with the run, so a later start in the same process chooses afresh.
    platform::SetWinePrefix(m_prefix.path);
    ReadInstallDirectory();
    PrepareLog();
    if (mainDialog) {
        mainDialog(*this);
    }
    platform::SetWinePrefix({});
    platform::StopSocketLayer();
    return 0;
}

std::string PrefixFromEnvironment() {
    const char* value = std::getenv(kPrefixVariable);
    return value != nullptr ? std::string(value) : std::string();
}

void CLumidexApp::ReadInstallDirectory() {
    RegistryReader reader(platform::RootKey::LocalMachine, kUninstallKey);
    RegistryValue value;
    value.kind = -1;
    if (!reader.Read(kProductUninstallEntry, kInstallLocationValue, value) || value.kind != 0) {
        return;
    }
    m_installDirectory = value.data;
    if (!m_installDirectory.empty() && m_installDirectory.back() != '\\') {
        m_installDirectory += '\\';
    }
    m_logPath = LogPathFor(m_installDirectory);
}

void CLumidexApp::PrepareLog() {
    // Each start begins a fresh file; the header comes back with the first entry.
    if (!m_logPath.empty()) {
        LocalFile file;
        if (file.Open(m_logPath, true)) {
            file.Truncate(0);
            file.Close();
        }
    }
    TheDiagLog().SetPath(m_logPath);
    TheDiagLog().SetLevel(1);
}

}  // namespace lumidex
