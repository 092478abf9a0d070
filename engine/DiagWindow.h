// What the check engine needs of the window it drives. Posted operations queue a change
// and return at once, applied later in the order posted; sent operations wait until the
// window applied them. The main window and the console implement it.
#pragma once

#include <string>

#include "engine/CheckStatus.h"
#include "platform/Event.h"

namespace lumidex {

class DiagWindow {
public:
    virtual ~DiagWindow() = default;

    // Posted. Texts travel as owned copies; an empty text makes an empty cell.
    virtual void PostItemStatus(int row, CheckStatus status) = 0;
    virtual void PostItemText(int row, int column, std::string text) = 0;
    virtual void PostCurrentItem(int row) = 0;
    virtual void PostStatusText(std::string text) = 0;
    // The window's busy cursor while a long step of the run waits on the network (the patch
    // download); every show is followed by a hide.
    virtual void PostWaitCursor(bool shown) = 0;
    // The engine's running flag changed: the check button follows it, and its drop is where
    // the window takes the run as ended. The drop is posted once, as the run's last change:
    // after everything the run started has ended and its summary is written.
    virtual void PostRunning(bool running) = 0;

    // Sent. A window that has closed answers at once: -1 / 0 / empty / nothing done.
    virtual int FindItemRow(int id) = 0;
    virtual int FindItemRowByName(const std::string& prefix) = 0;
    virtual void SetProgressRange(int maximum) = 0;
    virtual void SetProgressPos(int position) = 0;
    virtual void EnsureItemVisible(int row) = 0;
    virtual int RowCount() = 0;
    virtual std::string NotesText() = 0;
    virtual void SetNotesText(const std::string& text) = 0;
    virtual void EnableExit(bool enabled) = 0;
    virtual void EnableSubmit(bool enabled) = 0;

    // The manual-reset event the stop button sets.
    virtual platform::Event& StopEvent() = 0;
};

}  // namespace lumidex
