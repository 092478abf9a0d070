// lumidex: the Lumidex window. Without a display it runs the console front end instead, and
// with arguments other than "--prefix DIR" alone it is the console front end (so
// "lumidex --json" works anywhere).
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <optional>
#include <string>

#include "app/DisplayProbe.h"
#include "app/MainWindow.h"
#include "app/StatusImages.h"
#include "console/ConsoleMain.h"
#include "startup/LumidexApp.h"

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

// "--prefix DIR" or "--prefix=DIR" and nothing else: the window, on that prefix.
std::optional<std::string> WindowPrefixOption(int argc, char** argv) {
    const std::string_view option = "--prefix";
    if (argc == 3 && argv[1] == option && argv[2][0] != '\0') {
        return std::string(argv[2]);
    }
    if (argc == 2 && std::string_view(argv[1]).starts_with("--prefix=") &&
        std::string_view(argv[1]).size() > option.size() + 1) {
        return std::string(argv[1] + option.size() + 1);
    }
    return std::nullopt;
}

int RunWindow(int argc, char** argv, const std::string& prefix) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Lumidex");
    QApplication::setDesktopFileName("lumidex");
    QApplication::setWindowIcon(ApplicationIcon());
    MessageBoxSink sink;
    CLumidexApp app(sink);
    app.SetPrefixOption(prefix.empty() ? PrefixFromEnvironment() : prefix);
    return app.InitInstance([](CLumidexApp& started) {
        MainWindow window(started, DialogServices::Desktop());
        window.Dialog().exec();
    });
}

}  // namespace
}  // namespace lumidex

int main(int argc, char** argv) {
    std::string why;
    if (!lumidex::CanOpenDisplay(why)) {
        std::fprintf(stderr, "lumidex: %s; running the console front end instead\n", why.c_str());
        return lumidex::RunConsole(argc, argv, "lumidex");
    }
    const std::optional<std::string> prefix = lumidex::WindowPrefixOption(argc, argv);
    if (argc > 1 && !prefix) {
        return lumidex::RunConsole(argc, argv, "lumidex");
    }
    return lumidex::RunWindow(argc, argv, prefix.value_or(""));
}
