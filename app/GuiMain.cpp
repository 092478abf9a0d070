// lumidex: the Lumidex window. Without a display it runs the console front end instead, and
// with arguments it is the console front end (so "lumidex --json" works anywhere).
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
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

int RunWindow(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Lumidex");
    QApplication::setDesktopFileName("lumidex");
    QApplication::setWindowIcon(ApplicationIcon());
    MessageBoxSink sink;
    CLumidexApp app(sink);
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
    if (argc > 1) {
        return lumidex::RunConsole(argc, argv, "lumidex");
    }
    return lumidex::RunWindow(argc, argv);
}
