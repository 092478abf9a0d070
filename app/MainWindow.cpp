#include "app/MainWindow.h"

#include "startup/LumidexApp.h"
#include "startup/SystemProbes.h"

namespace lumidex {

MainWindow::MainWindow(const CLumidexApp& app, DialogServices services)
    : m_answers(platform::CopyDataReceiver::Open()) {
    SystemProbeSettings settings;
    settings.installDirectory = app.InstallDirectory();
    settings.window = m_answers ? m_answers->Handle() : platform::kNoWindow;
    auto engine = std::make_unique<CheckEngine>(MakeSystemProbes(settings));
    engine->SetOneAtATime(OneAtATimeFromEnvironment());
    m_dialog = std::make_unique<CLumidexDlg>(app.InstallDirectory(), std::move(engine),
                                             std::move(services));
    if (!m_answers) {
        return;
    }
    m_dialog->WatchCopiedData(m_answers->Descriptor(), [this] {
        return DeliverPatchAnswers(*m_answers, m_dialog->Engine().Probes());
    });
}

}  // namespace lumidex
