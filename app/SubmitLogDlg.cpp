#include "app/SubmitLogDlg.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/StatusImages.h"
#include "engine/Endpoints.h"
#include "engine/FindingsText.h"
#include "report/ReportPoster.h"
#include "report/ReportPreview.h"

namespace lumidex {
namespace {

// Left of submit, on its line, in the room the template leaves there (dialog units).
constexpr QRect kPreviewButtonRect(10, 136, 70, 14);
// Room for a header line and the findings' longest lines (dialog units).
constexpr QSize kPreviewWindowSize(360, 220);
constexpr char kPreviewCloseText[] = "关闭";

}  // namespace

CSubmitLogDlg::CSubmitLogDlg(const DialogServices& services, QWidget* parent)
    : QDialog(parent), m_services(services) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(ApplicationIcon());
    m_units = ApplyTemplate(*this, LoadDialogTemplate(kSubmitTemplate), m_controls);
    AddPreviewButton();
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

void CSubmitLogDlg::AddPreviewButton() {
    ControlTemplate button;
    button.id = kIdSubmitPreview;
    button.kind = "button";
    button.text = kSubmitPreviewText;
    button.rect = kPreviewButtonRect;
    auto* preview = qobject_cast<QPushButton*>(AddControl(*this, button, m_units, m_controls));
    if (preview == nullptr) {
        return;
    }
    connect(preview, &QPushButton::clicked, this, &CSubmitLogDlg::OnPreview);
    // In the tab order after the note, before submit, as it sits on the form.
    if (QWidget* note = m_controls[kIdNote]) {
        QWidget::setTabOrder(note, preview);
    }
    if (QWidget* send = m_controls[kIdSubmitSend]) {
        QWidget::setTabOrder(preview, send);
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

std::string CSubmitLogDlg::BodyToSend() const {
    return BuildReportBody(m_services.hostName(), TheFindingsText().Text(), Contact());
}

void CSubmitLogDlg::OnPreview() {
    auto* window = new QDialog(this);
    window->setObjectName(kPreviewWindowName);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(kSubmitPreviewText);
    auto* text = new QPlainTextEdit(
        QString::fromStdString(FormatReportPreview(BodyToSend(), endpoints::kReportUrl)), window);
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, window);
    buttons->button(QDialogButtonBox::Close)->setText(kPreviewCloseText);
    connect(buttons, &QDialogButtonBox::rejected, window, &QDialog::reject);
    auto* layout = new QVBoxLayout(window);
    layout->addWidget(text);
    layout->addWidget(buttons);
    window->resize(DluToPixels(kPreviewWindowSize, m_units));
    // Window-modal and not waited for: the event loop goes on, the form waits behind it.
    window->open();
}

void CSubmitLogDlg::OnSubmit() {
    const std::string body = BodyToSend();
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
