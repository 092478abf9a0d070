// What the dialogs need from outside the window: message boxes, the desktop's opener for
// web pages and files, the report exchange, and the system queries of the window's start.
// The desktop provides the real ones; tests put recorders in their place.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <string>

#include "startup/MessageSink.h"

namespace lumidex {

struct DialogServices {
    // A modal message box (OK button) on parent.
    std::function<void(QWidget* parent, const QString& text, const QString& caption,
                       MessageIcon icon)>
        showMessage;
    // Opens a web address or a file with the desktop's default program; false when that
    // program cannot be started.
    std::function<bool(const QString& target)> openExternal;
    // Sends a report body (GBK) to the report server; the recognised status (200, 302, 0).
    std::function<int(const std::string& body)> postReport;
    // The computer's name for the report.
    std::function<std::string()> hostName;
    // True where the XP SP2 connection-limit check applies (its row is shown then).
    std::function<bool()> isXpSp2;
    // Writes the network configuration to the log when the window opens.
    std::function<void()> logNetworkConfig;
    // The save dialog, opened on suggested (a full path): the path chosen, or empty when the
    // user cancelled. It asks nothing about an existing file; the window does.
    std::function<QString(QWidget* parent, const QString& suggested)> chooseSaveFile;
    // A modal question with Yes and No buttons, No the default; true for Yes.
    std::function<bool(QWidget* parent, const QString& text, const QString& caption)> askYesNo;

    // The real ones: QMessageBox, xdg-open, the report server, gethostname, the system's
    // version (the XP SP2 check never applies on Linux), the network configuration and
    // QFileDialog.
    static DialogServices Desktop();
};

// Caption of the window's own message boxes (start-up and report boxes name their own).
inline constexpr char kMessageCaption[] = "Lumidex";

}  // namespace lumidex
