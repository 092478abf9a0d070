// Renders the window after a run with every kind of row, the About box, the report form and
// a row tip to PNG files for people to look at, at the screen's scale and at twice it. It
// checks that the files were written and that no text is cut off, not what they show.
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "GuiTestSupport.h"
#include "QtTestMain.h"
#include "app/AboutDlg.h"
#include "app/CheckListCtrl.h"
#include "app/SubmitLogDlg.h"
#include "support/Screenshots.h"

namespace lumidex::testing {
namespace {

// A run whose rows show every status, a long detail, a hijacked hosts file (a detail that
// starts with a line break) and a stopped tail.
void ScriptedRun(ScriptedEngine& e) {
    const struct {
        int id;
        CheckStatus status;
        const char* detail;
    } rows[] = {
        {1, CheckStatus::Ok, "198.18.0.2"},
        {2, CheckStatus::Ok, "198.18.0.1 可以ping通"},
        {3, CheckStatus::Warning, "198.18.53.1 不能ping通; 198.18.53.2 可以ping通"},
        {4, CheckStatus::Ok, "IE未处于脱机状态"},
        {5, CheckStatus::Ok, "未设置代理服务器"},
        {6, CheckStatus::Ok, "局域网连接"},
        {7, CheckStatus::Error, "10个网站中只有2个可以连接,Internet连接可能不正常"},
        {8, CheckStatus::Ok, "Windows XP Service Pack 3"},
        {9, CheckStatus::Ok, "10.0.0.3802"},
        {10, CheckStatus::Ok, "正确"},
        {11, CheckStatus::Warning, "asx文件没有关联到Windows Media Player"},
        {13, CheckStatus::Error, "\r\n映射错误:127.0.0.1<->channel.kelvora.com"},
        {14, CheckStatus::Error, "www.kelvora.com 连接失败"},
    };
    e.SetProgressRange(static_cast<int>(std::size(rows)) + 2);
    int position = 0;
    for (const auto& row : rows) {
        const int index = e.FindItemRow(row.id);
        e.SetCurrentItem(index);
        e.SetStatusText("检测中...");
        e.SetItemText(index, 1, row.detail);
        e.SetItemStatus(index, row.status);
        e.SetProgressPos(++position);
        ++e.Counters().checkedCount;
        if (row.status == CheckStatus::Error) {
            ++e.Counters().errorCount;
        }
        if (row.status == CheckStatus::Warning) {
            ++e.Counters().warningCount;
        }
    }
    e.Counters().reportable = 1;
}

// Run once as the screen is and once at QT_SCALE_FACTOR=2: NAME.png, NAME@2x.png. A grab made
// for the screen's scale has its pixels, not a small picture blown up.
bool Save(const QPixmap& pixmap, const char* name) {
    const qreal scale = qApp->devicePixelRatio();
    if (pixmap.devicePixelRatio() != scale) {
        return false;
    }
    const QString suffix = scale == 1.0 ? QString() : QString("@%1x").arg(scale);
    return SavePng(pixmap, LUMIDEX_SCREENSHOT_DIR, QString(name).replace(".png", suffix + ".png"));
}

// Every button's and label's text fits its control at the scale the test runs at.
QStringList Clipped(const QWidget& window) {
    QStringList clipped;
    for (const QPushButton* button : window.findChildren<QPushButton*>()) {
        if (button->isVisible() &&
            button->fontMetrics().horizontalAdvance(button->text()) > button->width()) {
            clipped << button->text();
        }
    }
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        if (label->isVisible() && label->pixmap().isNull() && label->wordWrap() &&
            label->heightForWidth(label->width()) > label->height()) {
            clipped << label->text().left(20);
        }
    }
    return clipped;
}

}  // namespace

class ScreenshotTest : public QObject {
    Q_OBJECT
private slots:
    void writesTheWindowAndItsDialogs() {
        WindowUnderTest w;
        w.engine->basic = ScriptedRun;
        QVERIFY(w.RunOnce());
        QVERIFY(Save(w.dialog->grab(), "main-window.png"));
        QCOMPARE(Clipped(*w.dialog), QStringList());

        CAboutDlg about(w.dialog.get());
        about.show();
        QVERIFY(Save(about.grab(), "about.png"));
        QCOMPARE(Clipped(about), QStringList());
        about.close();

        const DialogServices services = w.recorder.Services();
        CSubmitLogDlg submit(services, w.dialog.get());
        submit.show();
        QTest::keyClicks(submit.findChild<QWidget*>("control_1006"), "12345678");
        qobject_cast<QPlainTextEdit*>(submit.findChild<QWidget*>("control_1010"))
            ->setPlainText("频道打不开");
        QVERIFY(Save(submit.grab(), "submit-dialog.png"));
        QCOMPARE(Clipped(submit), QStringList());
        submit.OnPreview();
        auto* preview = submit.findChild<QDialog*>(kPreviewWindowName);
        QVERIFY(preview != nullptr);
        QVERIFY(Save(preview->grab(), "submit-preview.png"));
        preview->reject();
        submit.close();

        // The tip of a row whose detail does not fit its column, drawn over the window.
        const QPixmap composed = WithRowTip(*w.dialog, *w.dialog->CheckList(), 2);
        QVERIFY(!composed.isNull());
        QVERIFY(Save(composed, "row-tip.png"));
    }
};

}  // namespace lumidex::testing

LUMIDEX_QT_TEST_MAIN(lumidex::testing::ScreenshotTest)
#include "ScreenshotTest.moc"
