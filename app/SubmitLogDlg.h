// The report form: optional contact details and a note, sent with the run's findings to the
// report server when the user presses its submit button.
#pragma once

#include <QDialog>

#include "app/DialogServices.h"
#include "app/TemplateWidgets.h"
#include "report/ReportBody.h"

namespace lumidex {

inline constexpr int kIdSubmitSend = 1005;
inline constexpr int kIdQq = 1006;
inline constexpr int kIdMsn = 1007;
inline constexpr int kIdClubId = 1008;
inline constexpr int kIdEmail = 1009;
inline constexpr int kIdNote = 1010;
// Beside the template's own buttons: shows what submit would send, before it is sent.
inline constexpr int kIdSubmitPreview = 1011;
inline constexpr char kSubmitPreviewText[] = "查看发送内容";
// The object name of the window the button opens (tests and screenshots find it so).
inline constexpr char kPreviewWindowName[] = "reportPreview";

class CSubmitLogDlg : public QDialog {
    Q_OBJECT
public:
    CSubmitLogDlg(const DialogServices& services, QWidget* parent = nullptr);

    // The fields as typed.
    ContactDetails Contact() const;
    // Sends the report, tells the user the outcome, opens the home page after a success,
    // and closes the form whatever the outcome.
    void OnSubmit();
    // Opens a read-only window with the request OnSubmit would send now, its body decoded
    // (the console's --submit --dry-run text), and returns at once; the form waits behind it.
    void OnPreview();

private:
    void AddPreviewButton();
    QString FieldText(int id) const;
    // The body OnSubmit sends and OnPreview shows.
    std::string BodyToSend() const;

    const DialogServices& m_services;
    ControlMap m_controls;
    BaseUnits m_units;
};

}  // namespace lumidex
