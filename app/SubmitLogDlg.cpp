#include "app/SubmitLogDlg.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/StatusImages.h"
#include "engine/Endpoints.h"
#include "engine/FindingsText.h"
#include "report/ReportPoster.h"

namespace lumidex {

CSubmitLogDlg::CSubmitLogDlg(const DialogServices& services, QWidget* parent)
    : QDialog(parent), m_services(services) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(ApplicationIcon());
    ApplyTemplate(*this, LoadDialogTemplate(kSubmitTemplate), m_controls);
    if (auto* send = qobject_cast<QPushButton*>(m_controls[kIdSubmitSend])) {
        connect(send, &QPushButton::clicked, this, &CSubmitLogDlg::OnSubmit);
    }
    if (auto* cancel = qobject_cast<QPushButton*>(m_controls[kIdCancel])) {
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    }
    if (QWidget* first = m_controls[kIdQq]) {
        first->setFocus();
    }
}

QString CSubmitLogDlg::FieldText(int id) const {
    const auto found = m_controls.find(id);
    if (found == m_controls.end()) {
        return {};
    }
    if (const auto* line = qobject_cast<const QLineEdit*>(found->second)) {
        return line->text();
    }
    if (const auto* note = qobject_cast<const QPlainTextEdit*>(found->second)) {
        // A typed line break comes as LF here; the contact block makes it CR LF.
        return note->toPlainText();
    }
    return {};
}

ContactDetails CSubmitLogDlg::Contact() const {
    ContactDetails contact;
    contact.qq = FieldText(kIdQq).toStdString();
    contact.msn = FieldText(kIdMsn).toStdString();
    contact.clubId = FieldText(kIdClubId).toStdString();
    contact.email = FieldText(kIdEmail).toStdString();
    contact.note = FieldText(kIdNote).toStdString();
    return contact;
}

void CSubmitLogDlg::OnSubmit() {
    const std::string body =
        BuildReportBody(m_services.hostName(), TheFindingsText().Text(), Contact());
    // The exchange runs here, on the UI thread, bounded by the poster's time-outs.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const int status = m_services.postReport(body);
    QApplication::restoreOverrideCursor();
    if (status == kStatusOk || status == kStatusFound) {
        m_services.showMessage(this, kSubmitSucceeded, kSubmitCaption, MessageIcon::Information);
        m_services.openExternal(endpoints::kHomePage);
    } else {
        m_services.showMessage(this, kSubmitFailed, kSubmitCaption, MessageIcon::Error);
    }
    accept();
}

}  // namespace lumidex
