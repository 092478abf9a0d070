#include "app/MainWindow.h"

#include "app/CheckListCtrl.h"
#include "platform/TextCodec.h"
#include "startup/ClientChecks.h"
#include "startup/LumidexApp.h"
#include "startup/SystemProbes.h"

namespace lumidex {

std::string SoftwareTipLine(const PrefixChoice& prefix) {
    if (prefix.path.empty()) {
        return {};
    }
    return "Wine前缀: " + platform::ValidUtf8(prefix.path) + " (" +
           std::string(PrefixSourceName(prefix.foundBy)) + ")";
}

MainWindow::MainWindow(const CLumidexApp& app, DialogServices services)
    : m_answers(platform::CopyDataReceiver::Open()) {
    SystemProbeSettings settings;
    settings.installDirectory = app.InstallDirectory();
    settings.window = m_answers ? m_answers->Handle() : platform::kNoWindow;
    settings.prefix = app.Prefix();
    auto engine = std::make_unique<CheckEngine>(MakeSystemProbes(settings));
    engine->SetOneAtATime(OneAtATimeFromEnvironment());
    m_dialog = std::make_unique<CLumidexDlg>(app.InstallDirectory(), std::move(engine),
                                             std::move(services));
    m_dialog->SetRunSetting(RunSetting::Of(app));
    if (CCheckListCtrl* list = m_dialog->CheckList()) {
        list->SetSoftwareTipLine(SoftwareTipLine(app.Prefix()));
    }
    if (!m_answers) {
        return;
    }
    m_dialog->WatchCopiedData(m_answers->Descriptor(), [this] {
        return DeliverPatchAnswers(*m_answers, m_dialog->Engine().Probes());
    });
}

}  // namespace lumidex
