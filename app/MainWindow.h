// The window as the desktop program opens it: the check engine on the system probes, the
// patch program's copied-data endpoint watched on the UI thread, and the services given.
// lumidex runs it with the desktop's services; the lab's window test runs the same window.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/DialogServices.h"
#include "app/LumidexDlg.h"
#include "platform/CopyData.h"

namespace lumidex {

class CLumidexApp;
struct PrefixChoice;

// The line the software rows' tips name the prefix with: "Wine前缀: PATH (found by)".
std::string SoftwareTipLine(const PrefixChoice& prefix);

class MainWindow {
public:
    // app has started (InitInstance is running its main dialog).
    MainWindow(const CLumidexApp& app, DialogServices services);
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    CLumidexDlg& Dialog() { return *m_dialog; }

private:
    // Declared first: the dialog's notifier watches its descriptor, so it must outlive it.
    std::optional<platform::CopyDataReceiver> m_answers;
    std::unique_ptr<CLumidexDlg> m_dialog;
};

}  // namespace lumidex
