// The status icons of the check list (bitmap 129: four 16 x 16 images side by side in the
// order of the status values, magenta transparent, with a 32 x 32 strip beside it for screens
// that scale by 2) and the application icon (icon 128).
#pragma once

#include <QIcon>
#include <QPixmap>
#include <vector>

#include "engine/CheckStatus.h"

namespace lumidex {

inline constexpr int kStatusImageSize = 16;
inline constexpr int kStatusImageCount = 4;

class StatusImages {
public:
    StatusImages();
    // The image of a status; a blank one (space kept, nothing drawn) for a separator row.
    const QIcon& Icon(CheckStatus status) const;
    const QIcon& Blank() const { return m_blank; }
    bool Loaded() const { return m_icons.size() == kStatusImageCount; }

private:
    std::vector<QIcon> m_icons;
    QIcon m_blank;
};

// Icon 128 in every size the resource holds.
QIcon ApplicationIcon();
// size in device-independent pixels, drawn for the screen's scale (devicePixelRatio).
QPixmap ApplicationPixmap(int size, qreal devicePixelRatio = 1.0);

}  // namespace lumidex
