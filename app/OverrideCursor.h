// Qt's override cursor for as long as the object lives, so that every way out of the scope
// restores it. GUI thread only: the engine's thread asks for it through the window's queue.
#pragma once

#include <QApplication>

namespace lumidex {

class OverrideCursor {
public:
    explicit OverrideCursor(Qt::CursorShape shape) { QApplication::setOverrideCursor(shape); }
    ~OverrideCursor() { QApplication::restoreOverrideCursor(); }
    OverrideCursor(const OverrideCursor&) = delete;
    OverrideCursor& operator=(const OverrideCursor&) = delete;
};

}  // namespace lumidex
