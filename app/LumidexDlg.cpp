#include "app/LumidexDlg.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStandardPaths>

#include "app/AboutDlg.h"
#include "app/CheckListCtrl.h"
#include "app/ResultFile.h"
#include "app/SubmitLogDlg.h"
#include "engine/Endpoints.h"
#include "platform/WinePaths.h"
#include "startup/LumidexApp.h"

namespace lumidex {

CLumidexDlg::CLumidexDlg(std::string installDirectory, std::unique_ptr<CheckEngine> engine,
                         DialogServices services, QWidget* parent)
    : QDialog(parent),
      m_installDirectory(std::move(installDirectory)),
      m_services(std::move(services)),
      m_engine(engine ? std::move(engine) : std::make_unique<CheckEngine>()) {
    InitDialog();
}

CLumidexDlg::~CLumidexDlg() {
    ShutDownRun();
}

void CLumidexDlg::InitDialog() {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(ApplicationIcon());
    ApplyTemplate(*this, LoadDialogTemplate(kMainTemplate), m_controls,
                  [this](const ControlTemplate& control, QWidget* parent) -> QWidget* {
                      if (control.kind != "listview") {
                          return nullptr;
                      }
                      m_list = new CCheckListCtrl(parent);
                      return m_list;
                  });
    m_checkButton = qobject_cast<QPushButton*>(Control(kIdCheck));
    m_progress = qobject_cast<QProgressBar*>(Control(kIdProgress));
    m_statusLine = qobject_cast<QLabel*>(Control(kIdStatusLine));
    m_notes = qobject_cast<QLabel*>(Control(kIdNotes));
    m_exitButton = qobject_cast<QPushButton*>(Control(kIdCancel));
    m_submitButton = qobject_cast<QPushButton*>(Control(kIdSubmit));
    if (m_list == nullptr || m_checkButton == nullptr || m_progress == nullptr ||
        m_statusLine == nullptr || m_notes == nullptr || m_exitButton == nullptr ||
        m_submitButton == nullptr) {
        return;  // a broken resource: an empty window rather than a crash
    }
    m_built = true;
    const std::pair<int, void (CLumidexDlg::*)()> commands[] = {
        {kIdCheck, &CLumidexDlg::OnCheck}, {kIdOpenLog, &CLumidexDlg::OnOpenLog},
        {kIdHelp, &CLumidexDlg::OnHelp},   {kIdSubmit, &CLumidexDlg::OnSubmit},
        {kIdCancel, &CLumidexDlg::reject},
    };
    for (const auto& [id, handler] : commands) {
        if (auto* button = qobject_cast<QPushButton*>(Control(id))) {
            connect(button, &QPushButton::clicked, this, handler);
        }
    }
    // The window manager owns the system menu here; the About item is offered in the
    // window's context menu and on its mnemonic instead.
    auto* about = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_A), this);
    connect(about, &QShortcut::activated, this, &CLumidexDlg::ShowAbout);

    m_list->InsertColumn(kItemHeading, kItemColumnWidth);
    m_list->InsertColumn(kDetailHeading, kDetailColumnWidth);
    m_list->EnableRowTips();
    CreateResultActions();
    m_submitButton->setEnabled(false);
    SetNotes(LoadResourceString(kUsageNotesString));
    m_withXpSp2Row = m_services.isXpSp2 && m_services.isXpSp2();
    FillList();
    if (m_services.logNetworkConfig) {
        m_services.logNetworkConfig();
    }

    // The engine's calls wake the event loop through the queue's descriptor; nothing polls.
    m_window.SetObserver([this](const WindowChange& change) { Render(change); });
    if (m_window.WakeFd() >= 0) {
        m_queueNotifier =
            std::make_unique<QSocketNotifier>(m_window.WakeFd(), QSocketNotifier::Read);
        connect(m_queueNotifier.get(), &QSocketNotifier::activated, this, &CLumidexDlg::PumpQueue);
    }
    m_checkButton->setFocus();
}

QWidget* CLumidexDlg::Control(int id) const {
    const auto found = m_controls.find(id);
    return found == m_controls.end() ? nullptr : found->second;
}

void CLumidexDlg::CreateResultActions() {
    m_copyAction = new QAction(kCopyResultText, this);
    m_copyAction->setShortcut(QKeySequence::Copy);
    // Ctrl+C copies the result where the rows are; elsewhere (a label's selection) it is
    // that widget's own.
    m_copyAction->setShortcutContext(Qt::WidgetShortcut);
    m_list->addAction(m_copyAction);
    connect(m_copyAction, &QAction::triggered, this, &CLumidexDlg::OnCopyResult);
    m_saveAction = new QAction(kSaveResultText, this);
    connect(m_saveAction, &QAction::triggered, this, &CLumidexDlg::OnSaveResult);
    m_copyAction->setEnabled(false);
    m_saveAction->setEnabled(false);
}

void CLumidexDlg::FillList() {
    m_result.reset();  // its rows are about to go
    m_window.RebuildRows(m_withXpSp2Row);
    m_list->clear();
    for (const CheckRow& row : m_window.Model().Rows()) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, QString::fromStdString(row.caption));
        item->setText(1, QString::fromStdString(row.detail));
        item->setData(0, Qt::UserRole, row.id);
        item->setIcon(0, row.status ? m_images.Icon(*row.status) : m_images.Blank());
    }
}

void CLumidexDlg::PumpQueue() {
    m_window.ProcessPending(0);
}

void CLumidexDlg::Render(const WindowChange& change) {
    using Kind = WindowChange::Kind;
    QTreeWidgetItem* item = change.row >= 0 ? m_list->topLevelItem(change.row) : nullptr;
    switch (change.kind) {
        case Kind::ItemStatus:
            if (item != nullptr) {
                item->setIcon(0, m_images.Icon(static_cast<CheckStatus>(change.value)));
            }
            break;
        case Kind::ItemText:
            if (item != nullptr) {
                item->setText(change.value, QString::fromStdString(change.text));
            }
            break;
        case Kind::CurrentItem:
            if (item != nullptr) {
                m_list->setFocus();
                m_list->setCurrentItem(item);
            }
            break;
        case Kind::EnsureVisible:
            if (item != nullptr) {
                m_list->scrollToItem(item, QAbstractItemView::EnsureVisible);
            }
            break;
        case Kind::StatusText:
            m_statusLine->setText(QString::fromStdString(change.text));
            break;
        case Kind::ProgressRange:
            m_progress->setRange(0, change.value);
            m_progress->setValue(0);
            break;
        case Kind::ProgressPos:
            m_progress->setValue(change.value);
            break;
        case Kind::Notes:
            m_notes->setText(DisplayText(QString::fromStdString(change.text)));
            break;
        case Kind::ExitEnabled:
            m_exitButton->setEnabled(change.value != 0);
            break;
        case Kind::SubmitEnabled:
            m_submitButton->setEnabled(change.value != 0);
            break;
        case Kind::Running:
            // The check button follows the engine's running flag, whose drop comes with the
            // run's end, after everything the run started has ended: until then the button
            // reads "停止" and a press says again that the run is stopping. A busy cursor
            // cannot outlive the run that asked for it.
            if (change.value == 0) {
                m_waitCursor.reset();
                if (RunActive()) {
                    m_result = BuildRunResult(m_window, *m_engine, m_runStart, m_runSetting);
                    SetState(RunState::Finished);
                }
            }
            break;
        case Kind::WaitCursor:
            // The busy cursor, not the hourglass: the window still answers, and "停止" works.
            if (change.value == 0) {
                m_waitCursor.reset();
            } else if (!m_waitCursor) {
                m_waitCursor.emplace(Qt::BusyCursor);
            }
            break;
    }
}

void CLumidexDlg::SetNotes(const QString& notes) {
    m_window.SetNotes(notes.toStdString());
    m_notes->setText(DisplayText(notes));
}

void CLumidexDlg::Message(const QString& text, MessageIcon icon) {
    if (m_services.showMessage) {
        m_services.showMessage(this, text, kMessageCaption, icon);
    }
}

void CLumidexDlg::OnCheck() {
    if (!m_built) {
        return;
    }
    switch (m_state) {
        case RunState::Ready:
        case RunState::Finished:
            StartRun();
            return;
        case RunState::Running:
        case RunState::Stopping:
            // Pressed again while stopping, it says so again; the run stops once either way.
            SetState(RunState::Stopping);
            m_window.PressStop();
            return;
    }
}

void CLumidexDlg::StartRun() {
    // The engine tells the window of a run's end only once the run has written its summary
    // and has nothing left but to return, and this state is reached only then; a run that
    // has not told its end (one started elsewhere) must not have its summary put under fresh
    // usage notes.
    if (m_engine->RunBusy()) {
        return;
    }
    const RunState before = m_state;
    FillList();
    SetNotes(LoadResourceString(kUsageNotesString));
    m_runStart = RunStart::Now(m_window);
    SetState(RunState::Running);
    m_window.EnableSubmit(false);
    m_window.StopEvent().Reset();
    const OverrideCursor waitCursor(Qt::WaitCursor);
    if (!m_engine->Start(&m_window)) {
        SetState(before);  // no thread, no run: "检测" again, rows left as rebuilt
    }
}

void CLumidexDlg::SetState(RunState state) {
    m_state = state;
    m_checkButton->setText(RunActive() ? kStopText : kCheckText);
    const bool hasResult = m_state == RunState::Finished && m_result.has_value();
    m_copyAction->setEnabled(hasResult);
    m_saveAction->setEnabled(hasResult);
}

bool CLumidexDlg::RunActive() const {
    return m_state == RunState::Running || m_state == RunState::Stopping;
}

void CLumidexDlg::OnOpenLog() {
    const std::string path = platform::MapWindowsPath(m_installDirectory + lumidex::kLogFileTail);
    if (!m_services.openExternal(QString::fromStdString(path))) {
        Message(kOpenLogFailed, MessageIcon::Error);
    }
}

void CLumidexDlg::OnHelp() {
    if (!m_services.openExternal(endpoints::kHelpPage)) {
        Message(kOpenHelpFailed, MessageIcon::Information);
    }
}

void CLumidexDlg::OnSubmit() {
    if (RunActive() || m_engine->Counters().reportable == 0) {
        return;
    }
    CSubmitLogDlg dialog(m_services, this);
    dialog.exec();
}

void CLumidexDlg::ShowAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CLumidexDlg::reject() {
    if (RunActive()) {
        Message(kBusyText, MessageIcon::Information);
        return;
    }
    ShutDownRun();
    QDialog::reject();
}

void CLumidexDlg::ShutDownRun() {
    if (m_shutDown) {
        return;
    }
    m_shutDown = true;
    // Queue first: a run still waiting for the window in a sent call is released at once,
    // so stopping it below cannot wait on a window that no longer answers.
    m_window.Close();
    // Only a window torn down without the close path (the desktop session ending) gets here
    // during a run: ask the run to stop as the stop button would.
    m_window.StopEvent().Set();
    m_queueNotifier.reset();
    m_copiedDataNotifier.reset();
    // A hide the closed queue dropped must not leave the cursor busy.
    m_waitCursor.reset();
    m_engine->Stop(kCloseStopTimeoutMs);
}

void CLumidexDlg::keyPressEvent(QKeyEvent* event) {
    // Enter would be the OK command, which this window has none of.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CLumidexDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    if (const QString about = LoadResourceString(kAboutMenuString); !about.isEmpty()) {
        menu.addAction(about, this, &CLumidexDlg::ShowAbout);
    }
    if (m_built) {
        if (!menu.isEmpty()) {
            menu.addSeparator();
        }
        menu.addAction(m_copyAction);
        menu.addAction(m_saveAction);
    }
    if (!menu.isEmpty()) {
        menu.exec(event->globalPos());
    }
}

QString CLumidexDlg::SuggestedResultName() const {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(m_runStart.at.time_since_epoch())
            .count();
    return "lumidex-" + QDateTime::fromMSecsSinceEpoch(ms).toString("yyyyMMdd-HHmmss") + ".txt";
}

std::string CLumidexDlg::ResultText() const {
    // The usage notes are the window's own: the console's notes are the run's summary alone.
    return FormatResultText(*m_result, m_result->summary);
}

void CLumidexDlg::OnCopyResult() {
    if (m_state != RunState::Finished || !m_result) {
        return;
    }
    QGuiApplication::clipboard()->setText(QString::fromStdString(ResultText()));
}

void CLumidexDlg::OnSaveResult() {
    if (m_state != RunState::Finished || !m_result || !m_services.chooseSaveFile) {
        return;
    }
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString path =
        m_services.chooseSaveFile(this, QDir(folder).filePath(SuggestedResultName()));
    if (path.isEmpty()) {
        return;
    }
    const bool replace = QFileInfo::exists(path);
    if (replace &&
        !(m_services.askYesNo &&
          m_services.askYesNo(this, QString(kReplaceFileQuestion).arg(path), kMessageCaption))) {
        return;
    }
    const bool json = path.endsWith(".json", Qt::CaseInsensitive);
    const std::string bytes = json ? FormatResultJson(*m_result) + "\n" : ResultText();
    const std::string error =
        WriteResultFile(QFile::encodeName(path).toStdString(), bytes, replace);
    if (!error.empty()) {
        Message(QString(kSaveFailedText).arg(path, QString::fromLocal8Bit(error)),
                MessageIcon::Error);
    }
}

void CLumidexDlg::WatchCopiedData(int fd, std::function<bool()> handler) {
    m_copiedDataHandler = std::move(handler);
    m_copiedDataNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(m_copiedDataNotifier.get(), &QSocketNotifier::activated, this, [this] {
        if (m_copiedDataHandler && m_copiedDataHandler() && m_built) {
            m_checkButton->setEnabled(true);
        }
    });
}

}  // namespace lumidex
