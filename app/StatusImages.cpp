#include "app/StatusImages.h"

#include <QBitmap>
#include <QImage>

namespace lumidex {
namespace {

constexpr char kStatusBitmap[] = ":/res/status.bmp";
constexpr char kStatusBitmap2x[] = ":/res/status@2x.bmp";
// The icon's sizes, and the one drawn at twice the largest of them.
constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};
constexpr char kLargestIcon2x[] = ":/res/icons/lumidex-256@2x.png";

QString IconResource(int size) {
    return QString(":/res/icons/lumidex-%1.png").arg(size);
}

// The strip's images of side pixels each, transparent where magenta; empty when the strip is
// missing or short.
std::vector<QPixmap> StripImages(const char* resource, int side) {
    const QImage strip(resource);
    std::vector<QPixmap> images;
    if (strip.width() < side * kStatusImageCount || strip.height() < side) {
        return images;
    }
    for (int i = 0; i < kStatusImageCount; ++i) {
        QPixmap image = QPixmap::fromImage(strip.copy(i * side, 0, side, side));
        image.setMask(image.createMaskFromColor(QColor(255, 0, 255), Qt::MaskInColor));
        images.push_back(std::move(image));
    }
    return images;
}

}  // namespace

StatusImages::StatusImages() {
    const std::vector<QPixmap> images = StripImages(kStatusBitmap, kStatusImageSize);
    // A screen that scales by 2 draws the 32-pixel image in the 16-pixel box instead of
    // blowing the small one up.
    const std::vector<QPixmap> images2x = StripImages(kStatusBitmap2x, 2 * kStatusImageSize);
    for (std::size_t i = 0; i < images.size(); ++i) {
        QIcon icon(images[i]);
        if (i < images2x.size()) {
            icon.addPixmap(images2x[i]);
        }
        m_icons.push_back(std::move(icon));
    }
    QPixmap blank(kStatusImageSize, kStatusImageSize);
    blank.fill(Qt::transparent);
    m_blank = QIcon(blank);
}

const QIcon& StatusImages::Icon(CheckStatus status) const {
    const auto index = static_cast<std::size_t>(status);
    return index < m_icons.size() ? m_icons[index] : m_blank;
}

QIcon ApplicationIcon() {
    QIcon icon;
    for (const int size : kIconSizes) {
        icon.addFile(IconResource(size), QSize(size, size));
    }
    icon.addFile(kLargestIcon2x, QSize(2 * kIconSizes[std::size(kIconSizes) - 1],
                                       2 * kIconSizes[std::size(kIconSizes) - 1]));
    return icon;
}

QPixmap ApplicationPixmap(int size, qreal devicePixelRatio) {
    return ApplicationIcon().pixmap(QSize(size, size), devicePixelRatio);
}

}  // namespace lumidex
