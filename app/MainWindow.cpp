#include "app/MainWindow.h"

#include "app/LumidexApp.h"
#include "app/SystemProbes.h"
#include "report/XpSp2Patch.h"

namespace lumidex {

MainWindow::MainWindow(const CLumidexApp& app, DialogServices services)
    : m_answers(platform::CopyDataReceiver::Open()) {
    SystemProbeSettings settings;
    settings.installDirectory = app.InstallDirectory();
    settings.window = m_answers ? m_answers->Handle() : platform::kNoWindow;
    m_dialog = std::make_unique<CLumidexDlg>(
        app.InstallDirectory(), std::make_unique<CheckEngine>(MakeSystemProbes(settings)),
        std::move(services));
    if (!m_answers) {
        return;
    }
    m_dialog->WatchCopiedData(m_answers->Descriptor(), [this] {
        bool changed = false;
        m_answers->Process([&](std::uint32_t dwData, std::string_view text) {
            if (XpSp2PatchHelper* patch = PatchHelperOf(m_dialog->Engine().Probes())) {
                changed = patch->OnCopyData(dwData, text) || changed;
            }
        });
        return changed;
    });
}

}  // namespace lumidex
