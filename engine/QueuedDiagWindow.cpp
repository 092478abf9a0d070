#include "engine/QueuedDiagWindow.h"

#include <algorithm>

namespace lumidex {
namespace {

// A progress control keeps its range in 16 bits.
constexpr int kProgressLimit = 0xFFFF;

}  // namespace

QueuedDiagWindow::QueuedDiagWindow() {
    m_model.Rebuild(false);
}

void QueuedDiagWindow::RebuildRows(bool withXpSp2Row) {
    m_model.Rebuild(withXpSp2Row);
}

void QueuedDiagWindow::PressStop() {
    m_statusLine = kStoppingText;
    Notify({WindowChange::Kind::StatusText, -1, 0, m_statusLine});
    m_stopEvent.Set();
}

void QueuedDiagWindow::Notify(WindowChange change) {
    if (m_observer) {
        m_observer(change);
    }
}

// Runs on the window thread: the one place the state changes.
void QueuedDiagWindow::Apply(WindowChange change) {
    using Kind = WindowChange::Kind;
    switch (change.kind) {
        case Kind::ItemStatus: {
            const auto status = CheckStatusFromInt(change.value);
            if (!status || !m_model.SetStatus(change.row, *status)) {
                return;
            }
            break;
        }
        case Kind::ItemText:
            if (!m_model.SetText(change.row, change.value, change.text)) {
                return;
            }
            break;
        case Kind::CurrentItem:
            if (m_model.Row(change.row) == nullptr) {
                return;
            }
            m_currentRow = change.row;
            break;
        case Kind::StatusText:
            m_statusLine = kStatusLinePrefix + change.text;
            change.text = m_statusLine;
            break;
        case Kind::ProgressRange:
            m_progressMaximum = std::clamp(change.value, 0, kProgressLimit);
            m_progressPosition = 0;
            change.value = m_progressMaximum;
            break;
        case Kind::ProgressPos:
            m_progressPosition = std::clamp(change.value, 0, m_progressMaximum);
            change.value = m_progressPosition;
            break;
        case Kind::EnsureVisible:
            break;
        case Kind::Notes:
            m_notes = change.text;
            break;
        case Kind::ExitEnabled:
            m_exitEnabled = change.value != 0;
            break;
        case Kind::SubmitEnabled:
            m_submitEnabled = change.value != 0;
            break;
        case Kind::WaitCursor:
            m_waitCursors = std::max(0, m_waitCursors + (change.value != 0 ? 1 : -1));
            change.value = WaitCursorShown() ? 1 : 0;
            break;
        case Kind::Running:
            m_running = change.value != 0;
            break;
    }
    Notify(std::move(change));
}

void QueuedDiagWindow::PostItemStatus(int row, CheckStatus status) {
    m_queue.Post([this, row, status] {
        Apply({WindowChange::Kind::ItemStatus, row, static_cast<int>(status), {}});
    });
}

void QueuedDiagWindow::PostItemText(int row, int column, std::string text) {
    m_queue.Post([this, row, column, text = std::move(text)]() mutable {
        Apply({WindowChange::Kind::ItemText, row, column, std::move(text)});
    });
}

void QueuedDiagWindow::PostCurrentItem(int row) {
    m_queue.Post([this, row] { Apply({WindowChange::Kind::CurrentItem, row, 0, {}}); });
}

void QueuedDiagWindow::PostStatusText(std::string text) {
    m_queue.Post([this, text = std::move(text)]() mutable {
        Apply({WindowChange::Kind::StatusText, -1, 0, std::move(text)});
    });
}

void QueuedDiagWindow::PostWaitCursor(bool shown) {
    m_queue.Post([this, shown] { Apply({WindowChange::Kind::WaitCursor, -1, shown ? 1 : 0, {}}); });
}

void QueuedDiagWindow::PostRunning(bool running) {
    m_queue.Post([this, running] {
        Apply({WindowChange::Kind::Running, -1, running ? 1 : 0, {}});
    });
}

int QueuedDiagWindow::FindItemRow(int id) {
    int row = -1;
    m_queue.Send([&] { row = m_model.FindById(id); });
    return row;
}

int QueuedDiagWindow::FindItemRowByName(const std::string& prefix) {
    int row = -1;
    m_queue.Send([&] { row = m_model.FindByNamePrefix(prefix); });
    return row;
}

void QueuedDiagWindow::SetProgressRange(int maximum) {
    m_queue.Send([&] { Apply({WindowChange::Kind::ProgressRange, -1, maximum, {}}); });
}

void QueuedDiagWindow::SetProgressPos(int position) {
    m_queue.Send([&] { Apply({WindowChange::Kind::ProgressPos, -1, position, {}}); });
}

void QueuedDiagWindow::EnsureItemVisible(int row) {
    m_queue.Send([&] { Apply({WindowChange::Kind::EnsureVisible, row, 0, {}}); });
}

int QueuedDiagWindow::RowCount() {
    int count = 0;
    m_queue.Send([&] { count = m_model.RowCount(); });
    return count;
}

std::string QueuedDiagWindow::NotesText() {
    std::string notes;
    m_queue.Send([&] { notes = m_notes; });
    return notes;
}

void QueuedDiagWindow::SetNotesText(const std::string& text) {
    m_queue.Send([&] { Apply({WindowChange::Kind::Notes, -1, 0, text}); });
}

void QueuedDiagWindow::EnableExit(bool enabled) {
    m_queue.Send([&] { Apply({WindowChange::Kind::ExitEnabled, -1, enabled ? 1 : 0, {}}); });
}

void QueuedDiagWindow::EnableSubmit(bool enabled) {
    m_queue.Send([&] { Apply({WindowChange::Kind::SubmitEnabled, -1, enabled ? 1 : 0, {}}); });
}

}  // namespace lumidex
