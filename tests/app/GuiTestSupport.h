// Helpers of the window tests: services that record instead of showing or opening anything,
// and a check engine whose phases are scripts that may wait for the test.
#pragma once

#include <QApplication>
#include <QPushButton>
#include <QString>
#include <QTest>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "app/CheckListCtrl.h"
#include "app/DialogServices.h"
#include "app/LumidexDlg.h"
#include "engine/ScriptedEngine.h"

namespace lumidex::testing {

struct ShownMessage {
    QString text;
    QString caption;
    MessageIcon icon;
};

// Everything the dialogs asked of the outside, in order.
struct Recorder {
    std::vector<ShownMessage> messages;
    std::vector<QString> opened;
    std::vector<std::string> posted;
    bool openSucceeds = true;
    int postStatus = 200;
    bool xpSp2 = false;
    // The save dialog's answer (empty: cancelled) and what it was offered.
    QString savePath;
    std::vector<QString> suggested;
    bool yes = false;
    std::vector<QString> questions;

    DialogServices Services() {
        DialogServices services;
        services.showMessage = [this](QWidget*, const QString& text, const QString& caption,
                                      MessageIcon icon) {
            messages.push_back({text, caption, icon});
        };
        services.openExternal = [this](const QString& target) {
            opened.push_back(target);
            return openSucceeds;
        };
        services.postReport = [this](const std::string& body) {
            posted.push_back(body);
            return postStatus;
        };
        services.hostName = [] { return std::string("lab-pc"); };
        services.isXpSp2 = [this] { return xpSp2; };
        services.logNetworkConfig = [] {};
        services.chooseSaveFile = [this](QWidget*, const QString& offered) {
            suggested.push_back(offered);
            return savePath;
        };
        services.askYesNo = [this](QWidget*, const QString& text, const QString&) {
            questions.push_back(text);
            return yes;
        };
        return services;
    }
};

// A window with a scripted engine; the test keeps a pointer to the engine it handed over.
struct WindowUnderTest {
    Recorder recorder;
    ScriptedEngine* engine = nullptr;
    std::unique_ptr<CLumidexDlg> dialog;

    explicit WindowUnderTest(bool xpSp2 = false, std::string installDirectory = "") {
        recorder.xpSp2 = xpSp2;
        auto scripted = std::make_unique<ScriptedEngine>();
        engine = scripted.get();
        dialog = std::make_unique<CLumidexDlg>(std::move(installDirectory), std::move(scripted),
                                               recorder.Services());
        dialog->show();
    }

    QPushButton* Button(int id) const { return qobject_cast<QPushButton*>(dialog->Control(id)); }
    QString Cell(int row, int column) const {
        return dialog->CheckList()->topLevelItem(row)->text(column);
    }
    // Presses the check button and waits until the run has ended and its changes are shown
    // (the button reads "检测" again then).
    bool RunOnce() {
        QTest::mouseClick(Button(kIdCheck), Qt::LeftButton);
        return WaitIdle();
    }
    bool WaitIdle() {
        for (int i = 0; i < 1000 && engine->IsRunning(); ++i) {
            QTest::qWait(10);
        }
        dialog->Window().ProcessPending(0);
        QApplication::processEvents();
        return !engine->IsRunning();
    }
};

}  // namespace lumidex::testing
