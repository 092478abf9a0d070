// Writing the windows to PNG files for people to look at, shared by the window tests and the
// lab's window test. Only Qt targets include it.
#pragma once

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPixmap>
#include <QTest>
#include <QTreeWidget>

namespace lumidex::testing {

// How long a row tip may take to appear (it waits 200 ms for the mouse to rest).
inline constexpr int kTipWaitMs = 5000;

// Saves pixmap as dir/name; true when a non-empty file is there afterwards.
inline bool SavePng(const QPixmap& pixmap, const QString& dir, const QString& name) {
    QDir().mkpath(dir);
    const QString path = dir + "/" + name;
    QFile::remove(path);
    return pixmap.save(path) && QFileInfo(path).size() > 0;
}

// One cell of a shown list as it is drawn now.
inline QImage CellPixels(QTreeWidget& list, int row, int column) {
    return list.viewport()->grab(list.visualRect(list.model()->index(row, column))).toImage();
}

inline QWidget* VisibleTip() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->inherits("QTipLabel")) {
            return widget;
        }
    }
    return nullptr;
}

// The window with the tip of one row of its list drawn over it, as the user sees it when the
// mouse rests on that row; a null pixmap when no tip appeared.
inline QPixmap WithRowTip(QWidget& window, QTreeWidget& list, int row) {
    list.scrollToItem(list.topLevelItem(row));
    const QPoint center = list.visualItemRect(list.topLevelItem(row)).center();
    QCursor::setPos(list.viewport()->mapToGlobal(center));
    QTest::mouseMove(list.viewport(), center);
    for (int waited = 0; VisibleTip() == nullptr && waited < kTipWaitMs; waited += 20) {
        QTest::qWait(20);
    }
    QWidget* tip = VisibleTip();
    if (tip == nullptr) {
        return {};
    }
    QPixmap composed = window.grab();
    QPainter painter(&composed);
    painter.drawPixmap(window.mapFromGlobal(tip->pos()), tip->grab());
    painter.end();
    return composed;
}

}  // namespace lumidex::testing
