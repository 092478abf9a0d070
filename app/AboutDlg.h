// The About box: the application's icon, name and version, and an OK button.
#pragma once

#include <QDialog>

#include "app/TemplateWidgets.h"

namespace lumidex {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

private:
    ControlMap m_controls;
};

}  // namespace lumidex
