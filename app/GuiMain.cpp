// lumidex: the Lumidex window. Without a display it runs the console front end instead, and
// with arguments it is the console front end (so "lumidex --json" works anywhere).
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <optional>
#include <string>

#include "app/DisplayProbe.h"
#include "app/LumidexApp.h"
#include "app/LumidexDlg.h"
#include "app/StatusImages.h"
#include "app/SystemProbes.h"
#include "console/ConsoleMain.h"
#include "platform/CopyData.h"
#include "report/XpSp2Patch.h"

namespace lumidex {
namespace {

class MessageBoxSink final : public MessageSink {
public:
    void ShowMessage(const std::string& text, const std::string& caption,
                     MessageIcon icon) override {
        QMessageBox box(
            icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Information,
            QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok);
        box.exec();
    }
};

int RunWindow(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Lumidex");
    QApplication::setDesktopFileName("lumidex");
    QApplication::setWindowIcon(ApplicationIcon());
    MessageBoxSink sink;
    CLumidexApp app(sink);
    return app.InitInstance([](CLumidexApp& started) {
        // The patch program answers at this endpoint; the dialog listens on its UI thread.
        std::optional<platform::CopyDataReceiver> answers = platform::CopyDataReceiver::Open();
        SystemProbeSettings settings;
        settings.installDirectory = started.InstallDirectory();
        settings.window = answers ? answers->Handle() : platform::kNoWindow;
        CLumidexDlg dialog(started.InstallDirectory(),
                           std::make_unique<CheckEngine>(MakeSystemProbes(settings)),
                           DialogServices::Desktop());
        if (answers) {
            dialog.WatchCopiedData(answers->Descriptor(), [&answers, &dialog] {
                bool changed = false;
                answers->Process([&](std::uint32_t dwData, std::string_view text) {
                    if (XpSp2PatchHelper* patch = PatchHelperOf(dialog.Engine().Probes())) {
                        changed = patch->OnCopyData(dwData, text) || changed;
                    }
                });
                return changed;
            });
        }
        dialog.exec();
    });
}

}  // namespace
}  // namespace lumidex

int main(int argc, char** argv) {
    std::string why;
    if (!lumidex::CanOpenDisplay(why)) {
        std::fprintf(stderr, "lumidex: %s; running the console front end instead\n", why.c_str());
        return lumidex::RunConsole(argc, argv);
    }
    if (argc > 1) {
        return lumidex::RunConsole(argc, argv);
    }
    return lumidex::RunWindow(argc, argv);
}
