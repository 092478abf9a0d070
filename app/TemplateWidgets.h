// Builds the controls of a dialog template on a Qt dialog: each control of its kind, at its
// place converted from dialog units, with its text, in tab order.
#pragma once

#include <QDialog>
#include <QWidget>
#include <functional>
#include <map>

#include "app/DialogTemplate.h"
#include "app/DialogUnits.h"

namespace lumidex {

// The widgets of the controls that have an id, by id. A control's widget is named
// "control_<id>" (tests and screenshots find them so).
using ControlMap = std::map<int, QWidget*>;

// Makes the widget of a kind this builder does not know itself (the check list).
using CustomControl = std::function<QWidget*(const ControlTemplate&, QWidget* parent)>;

// Sets the dialog's font, title and fixed client size, creates every control and returns
// the units it used.
BaseUnits ApplyTemplate(QDialog& dialog, const DialogTemplate& dialogTemplate, ControlMap& controls,
                        const CustomControl& custom = {});

// One control more, of a kind ApplyTemplate builds, placed, named and mapped as it does; for a
// control a dialog adds beside its template's own. Null for a kind it does not know.
QWidget* AddControl(QDialog& dialog, const ControlTemplate& control, BaseUnits units,
                    ControlMap& controls);

// Windows texts mark line breaks with CR LF; Qt widgets want LF.
QString DisplayText(const QString& text);

}  // namespace lumidex
