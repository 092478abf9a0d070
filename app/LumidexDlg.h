// The main window: the check list with status icons, the progress bar, the status line and
// the notes panel, and the buttons that start and stop a run, submit a report, open the
// help page and close the tool. It owns the check engine and renders the window state the
// engine changes through its queue.
#pragma once

#include <QDialog>
#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/DialogServices.h"
#include "app/OverrideCursor.h"
#include "app/StatusImages.h"
#include "app/TemplateWidgets.h"
#include "console/RunResultBuilder.h"
#include "engine/CheckEngine.h"
#include "engine/QueuedDiagWindow.h"

class QAction;
class QLabel;
class QProgressBar;
class QPushButton;

namespace lumidex {

class CCheckListCtrl;

inline constexpr int kIdOpenLog = 3;
inline constexpr int kIdHelp = 5;
inline constexpr int kIdCheckList = 1000;
inline constexpr int kIdProgress = 1001;
inline constexpr int kIdCheck = 1003;
inline constexpr int kIdStatusLine = 1004;
inline constexpr int kIdSubmit = 1012;
inline constexpr int kIdNotes = 1016;

inline constexpr char kCheckText[] = "检测";
inline constexpr char kStopText[] = "停止";
inline constexpr char kBusyText[] = "正在检测,请稍候...";
inline constexpr char kOpenLogFailed[] = "打开日志失败";
inline constexpr char kOpenHelpFailed[] = "打开错误!请检查网络是否正常";
inline constexpr char kItemHeading[] = "项目";
inline constexpr char kDetailHeading[] = "详细";
inline constexpr int kItemColumnWidth = 120;
inline constexpr int kDetailColumnWidth = 180;
inline constexpr char kCopyResultText[] = "复制检测结果";
inline constexpr char kSaveResultText[] = "保存检测结果...";
inline constexpr char kReplaceFileQuestion[] = "文件已存在,要替换它吗?\n%1";
inline constexpr char kSaveFailedText[] = "保存检测结果失败:\n%1\n%2";

// Where the window is in the life of a run. The check button reads "检测" in Ready and
// Finished, where it starts a run, and "停止" in Running and Stopping, where it stops one.
enum class RunState {
    Ready,     // no run yet
    Running,   // a run was started and its check phases have not ended
    Stopping,  // "停止" was pressed; the run ends at its next stop point and winds down
    Finished,  // the last run has ended: its work is over and its summary written
};

class CLumidexDlg : public QDialog {
    Q_OBJECT
public:
    // installDirectory: as the application read it (Windows form, ends with a backslash, or
    // empty). engine: the run this window drives (tests pass scripted ones).
    CLumidexDlg(std::string installDirectory, std::unique_ptr<CheckEngine> engine,
                DialogServices services, QWidget* parent = nullptr);
    ~CLumidexDlg() override;

    // The patch program's copied-data answers arrive on fd. When it turns readable, handler
    // runs here on the UI thread, reads and handles one answer (posting to the rows through
    // Window()) and returns true when it took it; the check button is enabled then.
    void WatchCopiedData(int fd, std::function<bool()> handler);

    QueuedDiagWindow& Window() { return m_window; }
    CheckEngine& Engine() { return *m_engine; }
    QWidget* Control(int id) const;
    CCheckListCtrl* CheckList() const { return m_list; }
    RunState State() const { return m_state; }
    // Where the run's result says it ran (the desktop program's log and prefix).
    void SetRunSetting(RunSetting setting) { m_runSetting = std::move(setting); }
    // The last run's result, once it has ended; none before and during a run.
    const std::optional<RunResult>& LastResult() const { return m_result; }
    // The name the save dialog suggests for the last run: lumidex-YYYYMMDD-HHMMSS.txt, the
    // run's start in local time.
    QString SuggestedResultName() const;

    // The commands of the buttons and of the window's menu.
    void OnCheck();
    void OnOpenLog();
    void OnHelp();
    void OnSubmit();
    void ShowAbout();
    // The last run's result as lumidex-console prints it: on the clipboard, or to a file
    // (its JSON when the name ends in .json).
    void OnCopyResult();
    void OnSaveResult();

public slots:
    // Exit button, Escape and the close box: refused during a run.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void InitDialog();
    void StartRun();
    void SetState(RunState state);
    // Running or Stopping: closing and submitting wait for the run's end.
    bool RunActive() const;
    void FillList();
    void PumpQueue();
    void Render(const WindowChange& change);
    void ShutDownRun();
    void SetNotes(const QString& notes);
    void Message(const QString& text, MessageIcon icon);
    void CreateResultActions();
    std::string ResultText() const;

    const std::string m_installDirectory;
    DialogServices m_services;
    StatusImages m_images;
    bool m_withXpSp2Row = false;
    // Declared before the engine: the engine's thread talks to it, so it must outlive it.
    QueuedDiagWindow m_window;
    std::unique_ptr<CheckEngine> m_engine;
    ControlMap m_controls;
    CCheckListCtrl* m_list = nullptr;
    QPushButton* m_checkButton = nullptr;
    QPushButton* m_exitButton = nullptr;
    QPushButton* m_submitButton = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_statusLine = nullptr;
    QLabel* m_notes = nullptr;
    QAction* m_copyAction = nullptr;
    QAction* m_saveAction = nullptr;
    // False when the template lacks a control the window needs: it then stays empty and its
    // commands do nothing.
    bool m_built = false;
    RunState m_state = RunState::Ready;
    RunSetting m_runSetting;
    RunStart m_runStart;
    // Points into the rows: dropped before they are rebuilt.
    std::optional<RunResult> m_result;
    std::unique_ptr<QSocketNotifier> m_queueNotifier;
    std::unique_ptr<QSocketNotifier> m_copiedDataNotifier;
    std::function<bool()> m_copiedDataHandler;
    // Shown while the run's patch download waits on the network.
    std::optional<OverrideCursor> m_waitCursor;
    bool m_shutDown = false;
};

}  // namespace lumidex
