#include "app/AboutDlg.h"

#include <QPushButton>

#include "app/StatusImages.h"

namespace lumidex {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(ApplicationIcon());
    ApplyTemplate(*this, LoadDialogTemplate(kAboutTemplate), m_controls);
    if (auto* ok = qobject_cast<QPushButton*>(m_controls[kIdOk])) {
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
        ok->setFocus();
    }
}

}  // namespace lumidex
