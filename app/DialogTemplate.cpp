#include "app/DialogTemplate.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <map>

namespace lumidex {
namespace {

constexpr char kTemplatesResource[] = ":/res/templates.json";

const QJsonObject& Resources() {
    static const QJsonObject root = [] {
        QFile file(kTemplatesResource);
        if (!file.open(QIODevice::ReadOnly)) {
            return QJsonObject();
        }
        return QJsonDocument::fromJson(file.readAll()).object();
    }();
    return root;
}

QRect RectFrom(const QJsonArray& values) {
    return QRect(values.at(0).toInt(), values.at(1).toInt(), values.at(2).toInt(),
                 values.at(3).toInt());
}

DialogTemplate Parse(const QJsonObject& object) {
    DialogTemplate dialog;
    dialog.title = object.value("title").toString();
    const QJsonObject font = object.value("font").toObject();
    dialog.fontFace = font.value("face").toString();
    dialog.fontPoints = font.value("points").toInt(9);
    const QJsonArray size = object.value("size").toArray();
    dialog.size = QSize(size.at(0).toInt(), size.at(1).toInt());
    for (const auto& style : object.value("styles").toArray()) {
        dialog.styles << style.toString();
    }
    for (const auto& value : object.value("controls").toArray()) {
        const QJsonObject control = value.toObject();
        dialog.controls.push_back(
            {control.value("id").toInt(kNoControlId), control.value("kind").toString(),
             control.value("text").toString(), RectFrom(control.value("rect").toArray()),
             control.value("hidden").toBool(), control.value("noprefix").toBool()});
    }
    return dialog;
}

}  // namespace

const ControlTemplate* DialogTemplate::Control(int id) const {
    for (const auto& control : controls) {
        if (control.id == id) {
            return &control;
        }
    }
    return nullptr;
}

const DialogTemplate& LoadDialogTemplate(int id) {
    // Read once, on the UI thread, like every resource of the window.
    static std::map<int, DialogTemplate> cache;
    auto found = cache.find(id);
    if (found == cache.end()) {
        const QJsonObject dialogs = Resources().value("dialogs").toObject();
        found = cache.emplace(id, Parse(dialogs.value(QString::number(id)).toObject())).first;
    }
    return found->second;
}

QString LoadResourceString(int id) {
    return Resources().value("strings").toObject().value(QString::number(id)).toString();
}

}  // namespace lumidex
