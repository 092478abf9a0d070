// The dialog templates and string table of res/templates.json, compiled into the program as
// a Qt resource: what each dialog holds, where, and with which text.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <vector>

namespace lumidex {

inline constexpr int kAboutTemplate = 100;
inline constexpr int kMainTemplate = 102;
inline constexpr int kSubmitTemplate = 130;
inline constexpr int kAboutMenuString = 101;
inline constexpr int kUsageNotesString = 102;
inline constexpr int kNoControlId = -1;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

struct ControlTemplate {
    int id = kNoControlId;
    QString kind;  // button, defbutton, listview, progress, groupbox, static, edit, ...
    QString text;
    QRect rect;  // dialog units
    bool hidden = false;
    bool noPrefix = false;
};

struct DialogTemplate {
    QString title;
    QString fontFace;
    int fontPoints = 9;
    QSize size;  // dialog units, the client area
    QStringList styles;
    std::vector<ControlTemplate> controls;  // tab order

    const ControlTemplate* Control(int id) const;
};

// The template with that id; an empty one (no controls) when the resource lacks it.
const DialogTemplate& LoadDialogTemplate(int id);
// A string resource; empty when absent. "\r\n" stays as the resource holds it.
QString LoadResourceString(int id);

}  // namespace lumidex
