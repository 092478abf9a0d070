#include "app/TemplateWidgets.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include "app/StatusImages.h"

namespace lumidex {
namespace {

// A static icon control shows the icon at the system's icon size, whatever its rect says.
constexpr int kStaticIconSize = 32;

QWidget* MakeControl(const ControlTemplate& control, QWidget* parent) {
    const QString& kind = control.kind;
    if (kind == "button" || kind == "defbutton") {
        auto* button = new QPushButton(control.text, parent);
        // Enter belongs to the dialog (which ignores it), never to the focused button.
        button->setAutoDefault(false);
        button->setDefault(kind == "defbutton");
        return button;
    }
    if (kind == "static") {
        auto* label = new QLabel(DisplayText(control.text), parent);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        return label;
    }
    if (kind == "icon") {
        auto* label = new QLabel(parent);
        label->setPixmap(ApplicationPixmap(kStaticIconSize, label->devicePixelRatioF()));
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    if (kind == "groupbox") {
        return new QGroupBox(control.text, parent);
    }
    if (kind == "progress") {
        auto* progress = new QProgressBar(parent);
        progress->setTextVisible(false);
        progress->setRange(0, 100);
        progress->setValue(0);
        return progress;
    }
    if (kind == "edit") {
        return new QLineEdit(control.text, parent);
    }
    if (kind == "multiedit") {
        auto* edit = new QPlainTextEdit(control.text, parent);
        edit->setTabChangesFocus(true);
        return edit;
    }
    return nullptr;
}

// Puts a control's widget at its place, shown or hidden, and names and maps it by its id.
void PlaceControl(QWidget& widget, const ControlTemplate& control, BaseUnits units,
                  ControlMap& controls) {
    widget.setGeometry(DluToPixels(control.rect, units));
    widget.setVisible(!control.hidden);
    if (control.id != kNoControlId) {
        widget.setObjectName(QString("control_%1").arg(control.id));
        controls[control.id] = &widget;
    }
}

}  // namespace

QString DisplayText(const QString& text) {
    QString display = text;
    display.replace("\r\n", "\n");
    return display;
}

BaseUnits ApplyTemplate(QDialog& dialog, const DialogTemplate& dialogTemplate, ControlMap& controls,
                        const CustomControl& custom) {
    dialog.setFont(DialogFont(dialogTemplate.fontFace, dialogTemplate.fontPoints));
    const BaseUnits units = BaseUnitsOf(dialog.font());
    dialog.setWindowTitle(dialogTemplate.title);
    dialog.setFixedSize(DluToPixels(dialogTemplate.size, units));

    QWidget* previous = nullptr;
    for (const ControlTemplate& control : dialogTemplate.controls) {
        QWidget* widget = MakeControl(control, &dialog);
        if (widget == nullptr && custom) {
            widget = custom(control, &dialog);
        }
        if (widget == nullptr) {
            continue;
        }
        PlaceControl(*widget, control, units, controls);
        // A group box only frames: below its controls it never takes their mouse input
        // (in Qt a later sibling would sit on top of the list it frames).
        if (qobject_cast<QGroupBox*>(widget) != nullptr) {
            widget->lower();
        }
        if (widget->focusPolicy() != Qt::NoFocus) {
            if (previous != nullptr) {
                QWidget::setTabOrder(previous, widget);
            }
            previous = widget;
        }
    }
    return units;
}

QWidget* AddControl(QDialog& dialog, const ControlTemplate& control, BaseUnits units,
                    ControlMap& controls) {
    QWidget* widget = MakeControl(control, &dialog);
    if (widget != nullptr) {
        PlaceControl(*widget, control, units, controls);
    }
    return widget;
}

}  // namespace lumidex
