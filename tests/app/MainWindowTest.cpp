// The main window and its dialogs on the offscreen platform, driven as a user would, with a
// scripted engine and recording services.
#include <sys/socket.h>

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>
#include <atomic>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "GuiTestSupport.h"
#include "QtTestMain.h"
#include "app/CheckListCtrl.h"
#include "app/DialogTemplate.h"
#include "app/MainWindow.h"
#include "app/RowTip.h"
#include "app/StatusImages.h"
#include "app/SubmitLogDlg.h"
#include "engine/Diagnosis.h"
#include "engine/Endpoints.h"
#include "engine/FindingsText.h"
#include "platform/UniqueFd.h"
#include "report/ReportBody.h"
#include "report/ReportPreview.h"
#include "startup/PrefixDiscovery.h"
#include "support/Files.h"
#include "support/FixturePrefix.h"
#include "support/ResultSchema.h"
#include "support/RunProcess.h"
#include "support/Screenshots.h"
#include "support/TempDir.h"

namespace lumidex::testing {
namespace {

constexpr int kGateMs = 10000;
// The exit status of isolated-run when no namespace can be made here.
constexpr int kNoIsolation = 77;

QImage IconImage(const QIcon& icon) {
    return icon.pixmap(16, 16).toImage();
}

bool RowShows(const WindowUnderTest& w, int row, CheckStatus status) {
    static const StatusImages images;
    return IconImage(w.dialog->CheckList()->topLevelItem(row)->icon(0)) ==
           IconImage(images.Icon(status));
}

QAction* ResultAction(const WindowUnderTest& w, const char* text) {
    for (QAction* action : w.dialog->findChildren<QAction*>()) {
        if (action->text() == text) {
            return action;
        }
    }
    return nullptr;
}

QString NotesShown(const WindowUnderTest& w) {
    return qobject_cast<QLabel*>(w.dialog->Control(kIdNotes))->text();
}

// Runs fn inside the next modal dialog's own event loop, then closes that dialog.
template <typename Fn>
void OnNextModal(Fn fn) {
    QTimer::singleShot(0, [fn] {
        QWidget* modal = QApplication::activeModalWidget();
        fn(modal);
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        }
    });
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void buttonsFollowTheRunAndClosingWaitsForItsEnd() {
        WindowUnderTest w;
        platform::Event gate(true);
        std::atomic<bool> sentDone{false};
        w.engine->basic = [&](ScriptedEngine& e) {
            gate.Wait(kGateMs);
            e.SetProgressRange(8);  // sent: needs the window thread
            sentDone = true;
        };
        QVERIFY(w.Button(kIdOpenLog)->isHidden());
        QVERIFY(!w.Button(kIdSubmit)->isEnabled());

        // Enter is the OK command, which does nothing, even on the focused check button.
        w.Button(kIdCheck)->setFocus();
        QTest::keyClick(w.Button(kIdCheck), Qt::Key_Return);
        QTest::keyClick(w.dialog.get(), Qt::Key_Enter);
        QCOMPARE(w.engine->runs.load(), 0);
        QVERIFY(w.dialog->isVisible());

        QTest::mouseClick(w.Button(kIdCheck), Qt::LeftButton);
        QCOMPARE(w.Button(kIdCheck)->text(), QString(kStopText));
        QTRY_COMPARE(w.engine->Running(), 1);
        QTRY_VERIFY(!w.Button(kIdCancel)->isEnabled());
        QCOMPARE(w.Button(kIdCheck)->text(), QString(kStopText));

        // Exit, Escape and the close box are refused while the run goes on.
        w.dialog->reject();
        QTest::keyClick(w.dialog.get(), Qt::Key_Escape);
        w.dialog->close();
        QCOMPARE(w.recorder.messages.size(), size_t(3));
        for (const auto& message : w.recorder.messages) {
            QCOMPARE(message.text, QString(kBusyText));
        }
        QVERIFY(w.dialog->isVisible());

        // Help and About stay reachable; the run goes on behind the About box.
        w.dialog->OnHelp();
        QCOMPARE(w.recorder.opened.back(), QString(endpoints::kHelpPage));
        w.recorder.openSucceeds = false;
        w.dialog->OnHelp();
        QCOMPARE(w.recorder.messages.back().text, QString(kOpenHelpFailed));
        QString aboutTitle;
        OnNextModal([&](QWidget* modal) {
            aboutTitle = modal != nullptr ? modal->windowTitle() : QString();
            gate.Set();
            QTRY_VERIFY(sentDone.load());
        });
        QTest::keyClick(w.dialog.get(), Qt::Key_A, Qt::AltModifier);
        QCOMPARE(aboutTitle, QString("关于 Lumidex"));
        QVERIFY(sentDone.load());

        QVERIFY(w.WaitIdle());
        QVERIFY(w.Button(kIdCancel)->isEnabled());
        QCOMPARE(w.Button(kIdCheck)->text(), QString(kCheckText));
        const size_t shown = w.recorder.messages.size();
        w.dialog->reject();
        QVERIFY(!w.dialog->isVisible());
        QCOMPARE(w.recorder.messages.size(), shown);
    }

    // The window menu's About item is offered in the context menu, with its text and its
    // mnemonic (Alt+A is tested above), and after it the result's items.
    void contextMenuOffersTheAboutItem() {
        WindowUnderTest w;
        QStringList items;
        QString aboutTitle;
        QTimer::singleShot(0, [&] {
            QWidget* menu = QApplication::activePopupWidget();
            if (menu == nullptr) {
                return;
            }
            for (const QAction* action : menu->actions()) {
                items << (action->isSeparator() ? "-" : action->text());
            }
            OnNextModal([&](QWidget* modal) {
                aboutTitle = modal != nullptr ? modal->windowTitle() : QString();
            });
            QTest::keyClick(menu, Qt::Key_A);
            if (menu->isVisible()) {
                menu->close();  // the mnemonic chose nothing
            }
        });
        const QPoint pos(5, 5);
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, w.dialog->mapToGlobal(pos));
        QApplication::sendEvent(w.dialog.get(), &event);
        QCOMPARE(items,
                 QStringList({"关于 Lumidex(&A)...", "-", kCopyResultText, kSaveResultText}));
        QCOMPARE(aboutTitle, QString("关于 Lumidex"));
    }

    // Copy and save offer the result only once a run has ended, and offer what the console
    // prints for it: the rows and the summary of this run, not of an earlier one.
    void copyGivesTheConsolesTextOnceTheRunHasEnded() {
        WindowUnderTest w;
        QAction* copy = ResultAction(w, kCopyResultText);
        QAction* save = ResultAction(w, kSaveResultText);
        QVERIFY(copy != nullptr && save != nullptr);
        QClipboard* clipboard = QGuiApplication::clipboard();
        const auto pressCopy = [&] {
            clipboard->setText("untouched");
            w.dialog->CheckList()->setFocus();
            QTest::keySequence(w.dialog->CheckList(), QKeySequence::Copy);
            return clipboard->text();
        };
        QVERIFY(!copy->isEnabled() && !save->isEnabled());
        QCOMPARE(pressCopy(), QString("untouched"));

        platform::Event gate(true);
        w.engine->basic = [&](ScriptedEngine& e) {
            gate.Wait(kGateMs);
            const int row = e.FindItemRow(1);
            e.SetItemText(row, 1, "192.168.1.2");
            e.SetItemStatus(row, CheckStatus::Ok);
            e.Counters().checkedCount = 1;
        };
        QTest::mouseClick(w.Button(kIdCheck), Qt::LeftButton);
        QVERIFY(!copy->isEnabled() && !save->isEnabled());
        QCOMPARE(pressCopy(), QString("untouched"));
        gate.Set();
        QVERIFY(w.WaitIdle());
        QVERIFY(copy->isEnabled() && save->isEnabled());

        const QString copied = pressCopy();
        const std::optional<RunResult>& result = w.dialog->LastResult();
        QVERIFY(result.has_value());
        QCOMPARE(copied, QString::fromStdString(FormatResultText(*result, result->summary)));
        QVERIFY(copied.startsWith("本地IP  [Ok]  192.168.1.2\n"));
        const std::string summary = CheckEngine::FormatSummary(17, 1, 0, 0);
        QCOMPARE(result->summary, summary);
        QVERIFY(copied.contains(QString::fromStdString(summary).remove('\r')));
        QVERIFY(!copied.contains('\r'));
        QVERIFY2(!copied.contains("[使用说明]"), "the usage notes are the window's, not the run's");
    }

    void saveWritesTheTextOrTheJsonAndNeverOverwritesUnasked() {
        TempDir dir;
        TempDir scratch;
        const std::string old = "an earlier result";
        const struct {
            const char* name;
            bool exists;
            bool yes;
            bool written;
            bool json;
            const char* why;  // in the message box, when the write fails
        } cases[] = {
            {"r.txt", false, false, true, false, nullptr},
            {"r.JSON", false, false, true, true, nullptr},
            {"kept.txt", true, false, false, false, nullptr},
            {"replaced.json", true, true, true, true, nullptr},
            {"no-such-dir/r.txt", false, false, false, false, "No such file or directory"},
            {"", false, false, false, false, nullptr},  // cancelled
        };
        WindowUnderTest w;
        QVERIFY(w.RunOnce());
        const RunResult& result = *w.dialog->LastResult();
        for (const auto& c : cases) {
            const QString path = c.name[0] ? QString::fromStdString(dir / c.name) : QString();
            if (c.exists) {
                WriteFile(path.toStdString(), old);
            }
            w.recorder.savePath = path;
            w.recorder.yes = c.yes;
            w.recorder.questions.clear();
            w.recorder.messages.clear();
            w.dialog->OnSaveResult();

            QCOMPARE(w.recorder.questions.size(), size_t(c.exists ? 1 : 0));
            const std::string expected =
                c.json ? FormatResultJson(result) + "\n" : FormatResultText(result, result.summary);
            if (c.written) {
                QCOMPARE(ReadAll(path.toStdString()), expected);
            } else if (c.exists) {
                QCOMPARE(ReadAll(path.toStdString()), old);
            } else if (!path.isEmpty()) {
                QVERIFY(!std::filesystem::exists(path.toStdString()));
            }
            if (c.written && c.json) {
                const std::string errors = ResultSchemaErrors(ReadAll(path.toStdString()),
                                                              scratch.path() / "validated.json");
                QVERIFY2(errors.empty(), errors.c_str());
            }
            QCOMPARE(w.recorder.messages.size(), size_t(c.why ? 1 : 0));
            if (c.why) {
                QVERIFY(w.recorder.messages[0].text.contains(path));
                QVERIFY2(w.recorder.messages[0].text.contains(c.why),
                         qPrintable(w.recorder.messages[0].text));
                QVERIFY(w.recorder.messages[0].icon == MessageIcon::Error);
            }
        }
        // Replacing leaves nothing of its own beside the file.
        QCOMPARE(std::distance(std::filesystem::directory_iterator(dir.path()),
                               std::filesystem::directory_iterator()),
                 4);

        // Offered in the documents folder, named for the run's start.
        QVERIFY(!w.recorder.suggested.empty());
        const QFileInfo offered(w.recorder.suggested.back());
        QCOMPARE(offered.absolutePath(),
                 QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                     .absolutePath());
        QVERIFY2(QRegularExpression("^lumidex-\\d{8}-\\d{6}\\.txt$")
                     .match(offered.fileName())
                     .hasMatch(),
                 qPrintable(offered.fileName()));
    }

    // A screen that scales by 2 gets images drawn at that size, not the small ones blown up.
    void imagesHaveTheirOwnPixelsAtTwiceTheScale() {
        const StatusImages images;
        const QImage strip2x(":/res/status@2x.bmp");
        QCOMPARE(strip2x.size(), QSize(4 * 2 * kStatusImageSize, 2 * kStatusImageSize));
        for (const CheckStatus status :
             {CheckStatus::Error, CheckStatus::NotChecked, CheckStatus::Ok, CheckStatus::Warning}) {
            const QPixmap drawn = images.Icon(status).pixmap(QSize(16, 16), 2.0);
            QCOMPARE(drawn.size(), QSize(32, 32));
            const QPixmap blownUp = images.Icon(status).pixmap(16, 16).scaled(32, 32);
            QVERIFY(drawn.toImage() != blownUp.toImage());
        }
        for (const int size : {16, 32, 256}) {
            QCOMPARE(ApplicationPixmap(size, 2.0).size(), QSize(2 * size, 2 * size));
        }
    }

    void rowsAreRebuiltAndNotesRestoredOnEveryRun() {
        WindowUnderTest w;
        QTreeWidget* list = w.dialog->CheckList();
        QCOMPARE(list->topLevelItemCount(), 19);
        QCOMPARE(w.Cell(7, 0), QString("----------"));
        QCOMPARE(w.Cell(12, 0), QString("----------"));
        QCOMPARE(list->headerItem()->text(0), QString("项目"));
        QCOMPARE(list->columnWidth(0), 120);
        QCOMPARE(list->columnWidth(1), 180);
        const QString usage = DisplayText(LoadResourceString(kUsageNotesString));
        QCOMPARE(NotesShown(w), usage);

        w.engine->basic = [](ScriptedEngine& e) {
            const int row = e.FindItemRow(1);
            e.SetCurrentItem(row);
            e.SetItemText(row, 1, "192.168.1.2");
            e.SetItemStatus(row, CheckStatus::Ok);
            e.SetItemStatus(e.FindItemRow(2), CheckStatus::Error);
            e.Counters().checkedCount = 2;
            e.Counters().errorCount = 1;
        };
        QVERIFY(w.RunOnce());
        QCOMPARE(w.Cell(0, 1), QString("192.168.1.2"));
        QVERIFY(RowShows(w, 0, CheckStatus::Ok));
        QVERIFY(RowShows(w, 1, CheckStatus::Error));
        QCOMPARE(list->currentItem(), list->topLevelItem(0));
        QCOMPARE(
            NotesShown(w),
            usage + DisplayText(QString::fromStdString(CheckEngine::FormatSummary(17, 2, 0, 1))));

        // The second run starts from clean rows and the usage notes.
        platform::Event gate(true);
        w.engine->basic = [&](ScriptedEngine&) { gate.Wait(kGateMs); };
        QTest::mouseClick(w.Button(kIdCheck), Qt::LeftButton);
        QCOMPARE(w.Cell(0, 1), QString());
        QVERIFY(RowShows(w, 0, CheckStatus::NotChecked));
        QVERIFY(RowShows(w, 1, CheckStatus::NotChecked));
        QCOMPARE(NotesShown(w), usage);
        gate.Set();
        QVERIFY(w.WaitIdle());

        // A header click does not sort.
        QHeaderView* header = list->header();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionPosition(0) + 10, header->height() / 2));
        QCOMPARE(w.Cell(0, 0), QString("本地IP"));
        QCOMPARE(w.Cell(18, 0), QString("目录服务"));
    }

    // The check button acts on the run's state, not on its own label, and follows the engine's
    // running flag as the queue reports it: a stop while running, still a stop (shown as
    // waiting) while the stopped run winds down, "检测" once the run has told its end, and
    // then a press starts the next run.
    void checkButtonFollowsTheRunState() {
        WindowUnderTest w;
        platform::Event flagDropped(true);
        platform::Event release(true);
        w.engine->basic = [&](ScriptedEngine& e) {
            e.SetItemText(e.FindItemRow(1), 1, "first run");
            while (!e.StopIfRequested()) {
            }
            flagDropped.Set();
            release.Wait(kGateMs);
        };
        QCOMPARE(w.dialog->State(), RunState::Ready);
        w.Button(kIdCheck)->setText("x");
        QTest::mouseClick(w.Button(kIdCheck), Qt::LeftButton);
        QCOMPARE(w.dialog->State(), RunState::Running);
        QCOMPARE(w.Button(kIdCheck)->text(), QString(kStopText));
        QTRY_COMPARE(w.Cell(0, 1), QString("first run"));

        w.Button(kIdCheck)->setText(kCheckText);
        QTest::mouseClick(w.Button(kIdCheck), Qt::LeftButton);
        QCOMPARE(w.dialog->State(), RunState::Stopping);
        QCOMPARE(qobject_cast<QLabel*>(w.dialog->Control(kIdStatusLine))->text(),
                 QString(kStoppingText));
        QVERIFY(flagDropped.Wait(kGateMs));

        // The phase saw the stop, but the run has not ended: a press is no lost start, it says
        // again that the run is stopping.
        QTest::qWait(100);
        QCOMPARE(w.dialog->State(), RunState::Stopping);
        QCOMPARE(w.Button(kIdCheck)->text(), QString(kStopText));
        auto* statusLine = qobject_cast<QLabel*>(w.dialog->Control(kIdStatusLine));
        statusLine->clear();
        QTest::mouseClick(w.Button(kIdCheck), Qt::LeftButton);
        QCOMPARE(w.dialog->State(), RunState::Stopping);
        QCOMPARE(statusLine->text(), QString(kStoppingText));
        QCOMPARE(w.Cell(0, 1), QString("first run"));
        release.Set();
        QTRY_COMPARE(w.dialog->State(), RunState::Finished);
        QCOMPARE(w.Button(kIdCheck)->text(), QString(kCheckText));

        // Once the run has told its end, the next press starts a run at once.
        w.engine->basic = {};
        QTest::mouseClick(w.Button(kIdCheck), Qt::LeftButton);
        QCOMPARE(w.dialog->State(), RunState::Running);
        QVERIFY(w.WaitIdle());
        QCOMPARE(w.engine->runs.load(), 2);
    }

    void submitNeedsTheReportableFlagAndCountedErrors() {
        const struct {
            int reportable;
            int errors;
            bool enabled;
        } cases[] = {{0, 1, false}, {1, 0, false}, {1, 2, true}};
        for (const auto& c : cases) {
            WindowUnderTest w;
            w.engine->basic = [c](ScriptedEngine& e) {
                e.Counters().reportable = c.reportable;
                e.Counters().errorCount = c.errors;
            };
            QVERIFY(w.RunOnce());
            QCOMPARE(w.Button(kIdSubmit)->isEnabled(), c.enabled);
        }

        // The flag stays set: a later run with one error enables Submit.
        WindowUnderTest w;
        w.engine->basic = [](ScriptedEngine& e) { e.Counters().reportable = 1; };
        QVERIFY(w.RunOnce());
        QVERIFY(!w.Button(kIdSubmit)->isEnabled());
        w.engine->basic = [](ScriptedEngine& e) { e.Counters().errorCount = 1; };
        QVERIFY(w.RunOnce());
        QVERIFY(w.Button(kIdSubmit)->isEnabled());
        QString title;
        OnNextModal([&](QWidget* modal) { title = modal ? modal->windowTitle() : QString(); });
        QTest::mouseClick(w.Button(kIdSubmit), Qt::LeftButton);
        QCOMPARE(title, QString("提交检测日志"));
    }

    void rowTipsShowEveryNonEmptyCell() {
        WindowUnderTest w;
        CCheckListCtrl* list = w.dialog->CheckList();
        const auto tipOf = [&](int row) {
            return list->TipTextAt(list->visualItemRect(list->topLevelItem(row)).center());
        };
        const QString longDetail(2000, QChar(0x957F));  // 长
        list->topLevelItem(1)->setText(1, longDetail);
        list->topLevelItem(2)->setText(1, "x");

        QCOMPARE(tipOf(0), QString("项目: 本地IP"));
        QCOMPARE(tipOf(7), QString("项目: ----------"));
        const QString cut = tipOf(1);
        QCOMPARE(cut.size(), kRowTipCapacity - 1);
        QVERIFY(cut.startsWith("项目: 默认网关\r\n详细: 长长"));
        // With problems, their next steps follow the cut part, which stays as it was; the
        // slow echo's step comes from the row's own threshold (row 1 is item 2, the gateway).
        TheRunDiagnosis().Reset();
        TheRunDiagnosis().AddProblem(1,
                                     MakeProblem(ProblemCode::GatewayUnreachable, {"198.18.0.1"}));
        TheRunDiagnosis().AddProbe(
            1, {ProbeKind::Icmp, "198.18.0.1", ProbeOutcome::Ok, 250.0, "echo"});
        const QString advised = tipOf(1);
        const QString other = tipOf(0);
        // Explained problems name what explains them, each cause once, after the steps.
        TheRunDiagnosis().SetExplainedBy(1,
                                         {{ProblemCode::GatewayUnreachable, ProblemCode::LinkDown},
                                          {ProblemCode::GatewaySlow, ProblemCode::LinkDown}});
        const QString explained = tipOf(1);
        TheRunDiagnosis().Reset();
        const auto step = [](ProblemCode code) {
            return QString::fromStdString(std::string(InfoOf(code).advice));
        };
        QCOMPARE(advised, cut + "\r\n建议:\r\n- " + step(ProblemCode::GatewayUnreachable) +
                              "（198.18.0.1）\r\n- " + step(ProblemCode::GatewaySlow) +
                              "（198.18.0.1）");
        QCOMPARE(other, QString("项目: 本地IP"));
        QCOMPARE(explained, advised + "\r\n原因:\r\n- 本地连接中断");
        list->headerItem()->setText(1, QString(200, 'H'));
        QCOMPARE(tipOf(2), "项目: DNS服务器\r\n" + QString(98, 'H') + ": x");
        QCOMPARE(list->TipTextAt(QPoint(5, list->viewport()->height() + 5)), QString());
        // The software rows (item 8 is row 8, after the separator) name their prefix; others not.
        PrefixChoice prefix;
        prefix.path = "/home/u/.local/share/bottles/bottles/K";
        prefix.foundBy = PrefixSource::Bottles;
        list->SetSoftwareTipLine(SoftwareTipLine(prefix));
        QCOMPARE(tipOf(8), QString("项目: 操作系统\r\nWine前缀: "
                                   "/home/u/.local/share/bottles/bottles/K (bottles)"));
        QCOMPARE(tipOf(0), QString("项目: 本地IP"));
        list->SetSoftwareTipLine({});

        // Shown after the mouse rests on a row, with real line breaks.
        list->headerItem()->setText(1, kDetailHeading);
        const QPoint center = list->visualItemRect(list->topLevelItem(2)).center();
        QCursor::setPos(list->viewport()->mapToGlobal(center));
        QTest::mouseMove(list->viewport(), center);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QString("项目: DNS服务器\n详细: x"));
        QToolTip::hideText();
    }

    // Row 13's mappings start with CR LF. The row keeps the posted text byte for byte, but the
    // cell draws it on one line as the mapping itself: the same pixels as that text alone.
    void cellsDrawLineBreaksOnOneLine() {
        const struct {
            const char* posted;
            const char* drawn;
        } cases[] = {
            {"\r\n映射错误:127.0.0.1<->channel.kelvora.com",
             "映射错误:127.0.0.1<->channel.kelvora.com"},
            {"\r\nKLV映射:203.0.113.9<->www.kelvora.com,\r\nKLV映射:203.0.113.7<->kelvora.com",
             "KLV映射:203.0.113.9<->www.kelvora.com,KLV映射:203.0.113.7<->kelvora.com"},
            {"a\rb\nc", "abc"},
            {"正常", "正常"},
        };
        for (const auto& c : cases) {
            WindowUnderTest w;
            w.engine->service = [&c](ScriptedEngine& e) {
                e.SetItemText(e.FindItemRow(13), 1, c.posted);
            };
            QVERIFY(w.RunOnce());
            CCheckListCtrl* list = w.dialog->CheckList();
            const int row = w.dialog->Window().FindItemRow(13);
            QCOMPARE(w.Cell(row, 1), QString(c.posted));
            QCOMPARE(list->CellShown(row, 1), QString(c.drawn));
            const QImage drawn = CellPixels(*list, row, 1);
            list->topLevelItem(row)->setText(1, c.drawn);
            QVERIFY2(CellPixels(*list, row, 1) == drawn, c.drawn);
        }
    }

    // The check thread asks for the busy cursor around the patch download; the window shows it
    // until the download ends, or until the window closes when that comes first.
    void busyCursorFollowsTheDownload() {
        for (const bool closeDuringDownload : {false, true}) {
            WindowUnderTest w;
            platform::Event shown(true);
            platform::Event release(true);
            w.engine->basic = [&](ScriptedEngine& e) {
                e.ShowWaitCursor(true);
                e.FindItemRow(1);  // sent: the show has been applied when it returns
                shown.Set();
                release.Wait(kGateMs);
                e.ShowWaitCursor(false);
            };
            QTest::mouseClick(w.Button(kIdCheck), Qt::LeftButton);
            QTRY_VERIFY(shown.Wait(0));
            QVERIFY(QApplication::overrideCursor() != nullptr);
            QCOMPARE(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
            if (closeDuringDownload) {
                w.dialog->Window().Close();  // the hide can no longer arrive
                release.Set();
                w.dialog.reset();
            } else {
                release.Set();
                QVERIFY(w.WaitIdle());
            }
            QVERIFY(QApplication::overrideCursor() == nullptr);
        }
    }

    void copiedDataAnswerReachesRow12() {
        WindowUnderTest w(true);
        QCOMPARE(w.dialog->CheckList()->topLevelItemCount(), 20);
        QCOMPARE(w.Cell(12, 0), QString("xpsp2补丁"));
        int pair[2];
        QCOMPARE(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair), 0);
        platform::UniqueFd answers(pair[0]);
        platform::UniqueFd patch(pair[1]);
        w.dialog->WatchCopiedData(answers.get(), [&] {
            char text[64] = {};
            const ssize_t size = ::recv(answers.get(), text, sizeof text - 1, 0);
            if (size <= 0 || text[0] == '|') {
                return false;
            }
            QueuedDiagWindow& window = w.dialog->Window();
            const int row = window.FindItemRow(12);
            window.PostItemText(row, 1, "连接数:" + std::string(text, strchr(text, '|')));
            window.PostItemStatus(row, CheckStatus::Ok);
            return true;
        });
        w.Button(kIdCheck)->setEnabled(false);
        QCOMPARE(::send(patch.get(), "|x", 2, 0), ssize_t(2));
        QTest::qWait(50);
        QVERIFY2(!w.Button(kIdCheck)->isEnabled(), "an answer not taken changes nothing");
        QCOMPARE(::send(patch.get(), "50|x", 4, 0), ssize_t(4));
        QTRY_COMPARE(w.Cell(12, 1), QString("连接数:50"));
        QVERIFY(RowShows(w, 12, CheckStatus::Ok));
        QVERIFY(w.Button(kIdCheck)->isEnabled());
    }

    void openLogUsesTheMappedLogPath() {
        FixturePrefix prefix;
        prefix.Activate();
        WindowUnderTest w(false, "C:\\Kelvora\\");
        w.Button(kIdOpenLog)->click();  // hidden, but its command works
        QCOMPARE(w.recorder.opened.size(), size_t(1));
        QVERIFY(w.recorder.opened[0].endsWith("drive_c/Kelvora/log/Lumidex_log.txt"));
        QVERIFY(w.recorder.messages.empty());
        w.recorder.openSucceeds = false;
        w.dialog->OnOpenLog();
        QCOMPARE(w.recorder.messages.back().text, QString(kOpenLogFailed));
    }
};

class SubmitDialogTest : public QObject {
    Q_OBJECT
private slots:
    void sendsTheFormAndAlwaysCloses() {
        TheFindingsText().Reset("\r\n开始基本网络检测\r\nIE处于脱机状态");
        const struct {
            int status;
            const char* message;
            MessageIcon icon;
            bool homeOpened;
        } cases[] = {
            {302, kSubmitSucceeded, MessageIcon::Information, true},
            {200, kSubmitSucceeded, MessageIcon::Information, true},
            {0, kSubmitFailed, MessageIcon::Error, false},
        };
        for (const auto& c : cases) {
            Recorder recorder;
            recorder.postStatus = c.status;
            const DialogServices services = recorder.Services();
            CSubmitLogDlg dialog(services);
            dialog.show();
            QTest::keyClicks(dialog.findChild<QWidget*>("control_1006"), "123&x=1");
            QTest::keyClicks(dialog.findChild<QWidget*>("control_1009"), "a@b.c");
            auto* note = dialog.findChild<QWidget*>("control_1010");
            // Typed as the user would; Chinese goes in as an input method would put it.
            qobject_cast<QPlainTextEdit*>(note)->insertPlainText("你好");
            QTest::keyClick(note, Qt::Key_Return);
            QTest::keyClicks(note, "ok");
            QTest::mouseClick(dialog.findChild<QPushButton*>("control_1005"), Qt::LeftButton);

            ContactDetails expected;
            expected.qq = "123&x=1";
            expected.email = "a@b.c";
            expected.note = "你好\r\nok";
            QCOMPARE(recorder.posted.size(), size_t(1));
            QCOMPARE(recorder.posted[0],
                     BuildReportBody("lab-pc", TheFindingsText().Text(), expected));
            QCOMPARE(recorder.messages.size(), size_t(1));
            QCOMPARE(recorder.messages[0].text, QString(c.message));
            QCOMPARE(recorder.messages[0].caption, QString("错误"));
            QVERIFY(recorder.messages[0].icon == c.icon);
            QCOMPARE(recorder.opened.size(), size_t(c.homeOpened ? 1 : 0));
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QVERIFY(!dialog.isVisible());
        }
    }

    // The button beside submit shows, read-only and before anything is sent, the very text
    // lumidex-console --submit --dry-run prints for the same findings, host and contact; and
    // submit then sends the body that text was made from.
    void previewShowsTheConsolesDryRunText() {
        FixturePrefix prefix;
        TempDir runtime;
        const ProcessResult run = RunProcess(
            LUMIDEX_ISOLATED_RUN,
            {LUMIDEX_CONSOLE_PATH, "--json", "--submit", "--dry-run", "--qq", "123&x=1", "--email",
             "a@b.c", "--note", "你好\n100%"},
            {{"WINEPREFIX", prefix.path().string()}, {"XDG_RUNTIME_DIR", runtime.path().string()}});
        if (run.exitCode == kNoIsolation) {
            QSKIP("no network namespace can be made here for the console's check run");
        }
        QCOMPARE(run.exitCode, 1);
        TheFindingsText().Reset(nlohmann::json::parse(run.out).at("findings").get<std::string>());

        Recorder recorder;
        DialogServices services = recorder.Services();
        services.hostName = LocalHostName;  // the console's, in the same host namespace
        CSubmitLogDlg dialog(services);
        dialog.show();
        auto* preview = dialog.findChild<QPushButton*>("control_1011");
        auto* send = dialog.findChild<QPushButton*>("control_1005");
        QVERIFY(preview != nullptr && send != nullptr);
        QCOMPARE(preview->text(), QString("查看发送内容"));
        // Beside the form's own buttons, inside the form, its text whole.
        QCOMPARE(preview->y(), send->y());
        QVERIFY(preview->geometry().right() < send->x());
        QVERIFY(dialog.rect().contains(preview->geometry()));
        QVERIFY(preview->fontMetrics().horizontalAdvance(preview->text()) < preview->width());

        QTest::keyClicks(dialog.findChild<QWidget*>("control_1006"), "123&x=1");
        QTest::keyClicks(dialog.findChild<QWidget*>("control_1009"), "a@b.c");
        auto* note = dialog.findChild<QWidget*>("control_1010");
        qobject_cast<QPlainTextEdit*>(note)->insertPlainText("你好");
        QTest::keyClick(note, Qt::Key_Return);
        QTest::keyClicks(note, "100%");
        QTest::mouseClick(preview, Qt::LeftButton);

        auto* window = dialog.findChild<QDialog*>(kPreviewWindowName);
        QVERIFY(window != nullptr && window->isVisible());
        auto* text = window->findChild<QPlainTextEdit*>();
        QVERIFY(text != nullptr && text->isReadOnly());
        QCOMPARE(text->toPlainText(), QString::fromStdString(run.err));
        QVERIFY(recorder.posted.empty());
        QVERIFY(dialog.isVisible());

        window->reject();
        QTest::mouseClick(send, Qt::LeftButton);
        QCOMPARE(recorder.posted.size(), size_t(1));
        QCOMPARE(FormatReportPreview(recorder.posted[0], endpoints::kReportUrl), run.err);
    }
};

}  // namespace lumidex::testing

LUMIDEX_QT_TEST_MAIN(lumidex::testing::MainWindowTest, lumidex::testing::SubmitDialogTest)
#include "MainWindowTest.moc"
