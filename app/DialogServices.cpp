#include "app/DialogServices.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>

#include "engine/Endpoints.h"
#include "probes/NetworkConfig.h"
#include "probes/SystemInventory.h"
#include "report/ReportBody.h"
#include "report/ReportPoster.h"

namespace lumidex {
namespace {

// The desktop's "open with the default program" for addresses and files alike.
constexpr char kOpener[] = "xdg-open";
constexpr char kSaveResultTitle[] = "保存检测结果";
// The text first: it is what the name suggested ends in.
constexpr char kSaveResultFilters[] = "文本文件 (*.txt);;JSON (*.json);;所有文件 (*)";

void ShowMessageBox(QWidget* parent, const QString& text, const QString& caption,
                    MessageIcon icon) {
    QMessageBox box(icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Information,
                    caption, text, QMessageBox::Ok, parent);
    box.exec();
}

QString ChooseSaveFile(QWidget* parent, const QString& suggested) {
    return QFileDialog::getSaveFileName(parent, kSaveResultTitle, suggested, kSaveResultFilters,
                                        nullptr, QFileDialog::DontConfirmOverwrite);
}

bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) {
    return QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace

DialogServices DialogServices::Desktop() {
    DialogServices services;
    services.showMessage = ShowMessageBox;
    services.openExternal = [](const QString& target) {
        // Started detached: the browser or editor outlives the tool and is not waited for.
        return QProcess::startDetached(kOpener, {target});
    };
    services.postReport = [](const std::string& body) {
        ReportPoster poster;
        return poster.Post(body, endpoints::kReportUrl);
    };
    services.hostName = LocalHostName;
    services.isXpSp2 = [] { return HasXpSp2Row(); };
    services.logNetworkConfig = LogNetworkConfiguration;
    services.chooseSaveFile = ChooseSaveFile;
    services.askYesNo = AskYesNo;
    return services;
}

}  // namespace lumidex
