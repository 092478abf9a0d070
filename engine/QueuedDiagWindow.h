// A toolkit-free DiagWindow: the window's state (rows, status line, progress, notes, button
// states) owned by one thread, the "window thread", with every engine call marshalled to it
// through a MessageQueue. Front ends render from it; tests record from it.
#pragma once

#include <functional>
#include <string>

#include "engine/CheckListModel.h"
#include "engine/DiagWindow.h"
#include "platform/Event.h"
#include "platform/MessageQueue.h"

namespace lumidex {

inline constexpr char kStatusLinePrefix[] = "当前进度：";
inline constexpr char kStoppingText[] = "正在停止KLV服务检测，请稍候...";

// One applied change, reported to the observer in the order applied.
struct WindowChange {
    enum class Kind {
        ItemStatus,
        ItemText,
        CurrentItem,
        StatusText,
        ProgressRange,
        ProgressPos,
        EnsureVisible,
        Notes,
        ExitEnabled,
        SubmitEnabled,
        WaitCursor,
        Running,
    };
    Kind kind;
    int row = -1;
    int value = 0;  // status, column, range, position, or an enabled, shown or running flag
    std::string text;
};

class QueuedDiagWindow final : public DiagWindow {
public:
    using Observer = std::function<void(const WindowChange&)>;

    // The constructing thread is the window thread.
    QueuedDiagWindow();

    // Window thread only.
    void SetObserver(Observer observer) { m_observer = std::move(observer); }
    void RebuildRows(bool withXpSp2Row);
    const CheckListModel& Model() const { return m_model; }
    const std::string& StatusLine() const { return m_statusLine; }
    const std::string& Notes() const { return m_notes; }
    void SetNotes(std::string notes) { m_notes = std::move(notes); }
    int ProgressMaximum() const { return m_progressMaximum; }
    int ProgressPosition() const { return m_progressPosition; }
    int CurrentRow() const { return m_currentRow; }
    bool ExitEnabled() const { return m_exitEnabled; }
    bool SubmitEnabled() const { return m_submitEnabled; }
    bool WaitCursorShown() const { return m_waitCursors > 0; }
    // The engine's running flag as last posted.
    bool Running() const { return m_running; }
    // Applies what the engine queued, waiting up to waitMs for the first change.
    int ProcessPending(int waitMs) { return m_queue.ProcessPending(waitMs); }
    // Readable while the engine has queued something; an event loop watches it and calls
    // ProcessPending(0).
    int WakeFd() const { return m_queue.WakeFd(); }
    // The stop button: tells the user and sets the stop event.
    void PressStop();
    // The window goes away: every later or waiting call of the engine returns at once.
    void Close() { m_queue.Close(); }

    // DiagWindow, any thread.
    void PostItemStatus(int row, CheckStatus status) override;
    void PostItemText(int row, int column, std::string text) override;
    void PostCurrentItem(int row) override;
    void PostStatusText(std::string text) override;
    void PostWaitCursor(bool shown) override;
    void PostRunning(bool running) override;
    int FindItemRow(int id) override;
    int FindItemRowByName(const std::string& prefix) override;
    void SetProgressRange(int maximum) override;
    void SetProgressPos(int position) override;
    void EnsureItemVisible(int row) override;
    int RowCount() override;
    std::string NotesText() override;
    void SetNotesText(const std::string& text) override;
    void EnableExit(bool enabled) override;
    void EnableSubmit(bool enabled) override;
    platform::Event& StopEvent() override { return m_stopEvent; }

private:
    void Notify(WindowChange change);
    void Apply(WindowChange change);

    platform::MessageQueue m_queue;
    platform::Event m_stopEvent{true};
    Observer m_observer;
    CheckListModel m_model;
    std::string m_statusLine;
    std::string m_notes;
    int m_progressMaximum = 100;
    int m_progressPosition = 0;
    int m_currentRow = -1;
    bool m_exitEnabled = true;
    bool m_submitEnabled = false;
    int m_waitCursors = 0;  // shows not yet hidden
    bool m_running = false;
};

}  // namespace lumidex
