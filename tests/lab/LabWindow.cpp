// The window in the lab: the dialog as lumidex opens it (system probes, copied-data endpoint),
// on the offscreen platform inside the lab's client, is run with its check button and must
// show the rows that lumidex-console --json gives in the same lab. It also leaves pictures of
// the window and its dialogs after this real run in the screenshot folder. With a hijacked
// hosts file, row 13's cell must draw the wrong mapping itself, not the line break before it.
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "LabFixture.h"
#include "app/AboutDlg.h"
#include "app/CheckListCtrl.h"
#include "app/MainWindow.h"
#include "app/StatusImages.h"
#include "app/SubmitLogDlg.h"
#include "engine/ProblemExplanations.h"
#include "startup/LumidexApp.h"
#include "support/Files.h"
#include "support/ResultSchema.h"
#include "support/RunProcess.h"
#include "support/Screenshots.h"

namespace lumidex::labtest {
namespace {

// A lab run takes seconds; this only keeps a hung window from stalling the suite.
constexpr int kRunBoundMs = 120000;
constexpr int kPollMs = 50;

struct ShownRow {
    int id = 0;
    std::string name;
    std::optional<std::string> status;  // empty for a separator (no status image)
    std::string detail;
    std::string drawn;  // the detail as the cell draws it
    // For a detail that starts with CR LF: whether the cell draws the same pixels as the rest
    // of the detail alone.
    std::optional<bool> drawnAsTextAfterBreak;
};

struct WindowRun {
    bool started = false;
    bool finished = false;
    std::vector<ShownRow> rows;
    bool submitEnabled = false;
    std::string notes;
    std::vector<QString> messages;  // every message box the window asked for
    std::vector<QString> screenshots;
    std::string copied;          // what Ctrl+C in the list put on the clipboard
    std::string savedJsonError;  // why saving the JSON failed, or empty
};

class TextSink final : public MessageSink {
public:
    void ShowMessage(const std::string& text, const std::string&, MessageIcon) override {
        shown.push_back(QString::fromStdString(text));
    }
    std::vector<QString> shown;
};

// The status a row's image shows, by comparing it with the four status images.
std::optional<std::string> StatusShown(const QIcon& icon) {
    static const StatusImages images;
    const QImage shown = icon.pixmap(kStatusImageSize, kStatusImageSize).toImage();
    for (const CheckStatus status :
         {CheckStatus::Error, CheckStatus::NotChecked, CheckStatus::Ok, CheckStatus::Warning}) {
        if (shown == images.Icon(status).pixmap(kStatusImageSize, kStatusImageSize).toImage()) {
            return std::string(CheckStatusName(status));
        }
    }
    return std::nullopt;
}

std::vector<ShownRow> RowsShown(CCheckListCtrl& list) {
    std::vector<ShownRow> rows;
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list.topLevelItem(i);
        const QString detail = item->text(1);
        ShownRow row{item->data(0, Qt::UserRole).toInt(), item->text(0).toStdString(),
                     StatusShown(item->icon(0)),          detail.toStdString(),
                     list.CellShown(i, 1).toStdString(),  std::nullopt};
        if (detail.startsWith("\r\n")) {
            const QImage drawn = testing::CellPixels(list, i, 1);
            item->setText(1, detail.mid(2));
            row.drawnAsTextAfterBreak = testing::CellPixels(list, i, 1) == drawn;
            item->setText(1, detail);
        }
        rows.push_back(row);
    }
    return rows;
}

// The row whose tip is worth a picture: the first that is not Ok, else the one with the
// longest detail (the one most likely cut off in its column).
int TipRow(const std::vector<ShownRow>& rows) {
    std::size_t longest = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].status && *rows[i].status != "Ok") {
            return static_cast<int>(i);
        }
        if (rows[i].detail.size() > rows[longest].detail.size()) {
            longest = i;
        }
    }
    return static_cast<int>(longest);
}

// The window after the run, a row's tip, and the two dialogs as they open over it (the report
// form only when the run enabled it).
void TakeScreenshots(CLumidexDlg& dialog, const DialogServices& services, WindowRun& run) {
    const char* scenario = std::getenv("LAB_SCENARIO");
    const QString prefix = QString("lab-%1-").arg(scenario != nullptr ? scenario : "unknown");
    const auto save = [&](const QPixmap& pixmap, const QString& name) {
        if (!pixmap.isNull() && testing::SavePng(pixmap, LUMIDEX_SCREENSHOT_DIR, prefix + name)) {
            run.screenshots.push_back(prefix + name);
        }
    };
    save(dialog.grab(), "main-window.png");
    save(testing::WithRowTip(dialog, *dialog.CheckList(), TipRow(run.rows)), "row-tip.png");
    CAboutDlg about(&dialog);
    about.show();
    save(about.grab(), "about.png");
    about.close();
    if (run.submitEnabled) {
        CSubmitLogDlg submit(services, &dialog);
        submit.show();
        save(submit.grab(), "submit-dialog.png");
        submit.close();
    }
}

// Starts the program's front-end path (socket layer, single-instance lock, installation
// directory, log), opens the window, presses "检测" and waits until the button reads "检测"
// again. The lock is released when this returns, so the console may run next.
WindowRun RunWindowOnce() {
    WindowRun run;
    TextSink sink;
    CLumidexApp app(sink);
    app.InitInstance([&run](CLumidexApp& started) {
        DialogServices services = DialogServices::Desktop();
        services.showMessage = [&run](QWidget*, const QString& text, const QString&, MessageIcon) {
            run.messages.push_back(text);
        };
        services.openExternal = [](const QString&) { return false; };
        const std::filesystem::path saved = Lab::Get().Dir() / "window-result.json";
        std::filesystem::remove(saved);
        services.chooseSaveFile = [&saved](QWidget*, const QString&) {
            return QString::fromStdString(saved.string());
        };
        services.askYesNo = [](QWidget*, const QString&, const QString&) { return false; };
        MainWindow window(started, services);
        CLumidexDlg& dialog = window.Dialog();
        dialog.show();
        if (!QTest::qWaitForWindowExposed(&dialog)) {
            return;
        }
        auto* check = qobject_cast<QPushButton*>(dialog.Control(kIdCheck));
        QTest::mouseClick(check, Qt::LeftButton);
        run.started = check->text() == kStopText;
        for (int waited = 0; check->text() != kCheckText && waited < kRunBoundMs;
             waited += kPollMs) {
            QTest::qWait(kPollMs);
        }
        run.finished = check->text() == kCheckText;
        // The running flag drops before the run posts its summary and enables "提交": wait
        // for the worker to end and show what it posted last.
        for (int waited = 0; dialog.Engine().IsRunning() && waited < kRunBoundMs;
             waited += kPollMs) {
            QTest::qWait(kPollMs);
        }
        QApplication::processEvents();
        QTest::qWait(kPollMs);
        run.rows = RowsShown(*dialog.CheckList());
        run.submitEnabled = dialog.Control(kIdSubmit)->isEnabled();
        run.notes = dialog.Window().Notes();
        dialog.CheckList()->setFocus();
        QTest::keySequence(dialog.CheckList(), QKeySequence::Copy);
        run.copied = QGuiApplication::clipboard()->text().toStdString();
        dialog.OnSaveResult();
        run.savedJsonError = testing::ResultSchemaErrors(testing::ReadAll(saved),
                                                         Lab::Get().Dir() / "window-saved.json");
        TakeScreenshots(dialog, services, run);
        dialog.reject();
    });
    run.messages.insert(run.messages.end(), sink.shown.begin(), sink.shown.end());
    return run;
}

using LabWindow = LabTest;
TEST_F(LabWindow, ShowsTheRowsOfTheConsoleAfterARun) {
    const WindowRun window = RunWindowOnce();
    ASSERT_TRUE(window.started) << "the check button did not start a run";
    ASSERT_TRUE(window.finished) << "the run did not end within " << kRunBoundMs << " ms";
    for (const QString& message : window.messages) {
        ADD_FAILURE() << "message box: " << message.toStdString();
    }

    const char* console = std::getenv("LUMIDEX_CONSOLE");
    ASSERT_NE(console, nullptr);
    const auto result = testing::RunProcess(console, {"--json"}, {}, std::chrono::seconds(120));
    ASSERT_FALSE(result.timedOut);
    const Json expected = Json::parse(result.out, nullptr, false);
    ASSERT_TRUE(expected.is_object()) << result.out << result.err;
    EXPECT_EQ(testing::ResultSchemaErrors(result.out, Lab::Get().Dir() / "window-console.json"),
              "");

    ASSERT_EQ(window.rows.size(), expected["rows"].size());
    EXPECT_EQ(window.rows.size(), 19u);
    for (std::size_t i = 0; i < window.rows.size(); ++i) {
        const ShownRow& shown = window.rows[i];
        const Json& row = expected["rows"][i];
        EXPECT_EQ(shown.id, row["id"].get<int>()) << i;
        EXPECT_EQ(shown.name, row["name"].get<std::string>()) << i;
        EXPECT_EQ(shown.detail, row["detail"].get<std::string>()) << "row " << shown.id;
        EXPECT_EQ(shown.status.value_or("(none)"),
                  row["status"].is_null() ? "(none)" : row["status"].get<std::string>())
            << "row " << shown.id;
    }
    EXPECT_EQ(window.submitEnabled, expected["submit_enabled"].get<bool>());
    // The notes end with the summary, then the primary causes' next steps when there are any.
    const std::string summary = expected["summary"];
    const auto summaryAt = window.notes.rfind(summary);
    ASSERT_NE(summaryAt, std::string::npos) << window.notes;
    std::string causes = window.notes.substr(summaryAt + summary.size());
    // Then the P2P verdict's lines, last.
    if (const auto p2pAt = causes.find("\r\nP2P连通性:"); p2pAt != std::string::npos) {
        EXPECT_TRUE(expected.contains("p2p")) << window.notes;
        causes.resize(p2pAt);
    }
    if (expected["diagnosis"]["primary"].empty()) {
        EXPECT_EQ(causes, "") << window.notes;
    } else {
        EXPECT_EQ(causes.rfind(kPrimaryCausesHeading, 0), 0u) << window.notes;
    }
    for (const Json& cause : expected["diagnosis"]["primary"]) {
        const auto code = ProblemCodeFromName(cause["code"].get<std::string>());
        ASSERT_TRUE(code.has_value()) << cause;
        EXPECT_NE(causes.find("\r\n- " + std::string(InfoOf(*code).advice)), std::string::npos)
            << causes;
    }
    EXPECT_EQ(window.screenshots.size(), window.submitEnabled ? 4u : 3u);

    // The copy is what the console prints at the end of its run; the save is a valid result.
    const auto text = testing::RunProcess(console, {}, {}, std::chrono::seconds(120));
    ASSERT_FALSE(text.timedOut);
    EXPECT_FALSE(window.copied.empty());
    // Each run maps its own fresh STUN socket and measures the path anew, with bursts to its
    // own sample of servers: the mapped port and the path block's lines are what differs.
    const auto withoutMappedPort = [](const std::string& out) {
        const std::string ported =
            std::regex_replace(out, std::regex("(外网地址: [0-9.]+):[0-9]+"), "$1:PORT");
        return std::regex_replace(ported, std::regex("(\n线路质量\r?\n)(- [^\n]*\n)*"),
                                  "$1(measured)\n");
    };
    EXPECT_TRUE(withoutMappedPort(text.out).ends_with(withoutMappedPort(window.copied)))
        << "copied:\n"
        << window.copied << "console:\n"
        << text.out;
    EXPECT_EQ(window.savedJsonError, "");

    const char* scenario = std::getenv("LAB_SCENARIO");
    if (scenario != nullptr && std::string(scenario) == "hosts-hijacked") {
        const ShownRow& hosts = window.rows[13];
        ASSERT_EQ(hosts.id, 13);
        EXPECT_EQ(hosts.detail.rfind("\r\n映射错误:127.0.0.1<->", 0), 0u) << hosts.detail;
        EXPECT_EQ(hosts.drawn.rfind("映射错误:127.0.0.1<->", 0), 0u) << hosts.drawn;
        EXPECT_EQ(hosts.drawnAsTextAfterBreak, std::optional<bool>(true))
            << "row 13's cell does not draw the mapping";
    }
}

}  // namespace
}  // namespace lumidex::labtest

int main(int argc, char** argv) {
    // The lab's client has no display; the window is drawn offscreen, as in the window tests.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
