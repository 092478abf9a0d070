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

class CSubmitLogDlg : public QDialog {
    Q_OBJECT
public:
    CSubmitLogDlg(const DialogServices& services, QWidget* parent = nullptr);

    // The fields as typed.
    ContactDetails Contact() const;
    // Sends the report, tells the user the outcome, opens the home page after a success,
    // and closes the form whatever the outcome.
    void OnSubmit();

private:
    QString FieldText(int id) const;

    const DialogServices& m_services;
    ControlMap m_controls;
};

}  // namespace lumidex
