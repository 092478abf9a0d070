#include "app/StatusImages.h"

#include <QBitmap>
#include <QImage>

namespace lumidex {
namespace {

constexpr char kStatusBitmap[] = ":/res/status.bmp";
constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

QString IconResource(int size) {
    return QString(":/res/icons/lumidex-%1.png").arg(size);
}

}  // namespace

StatusImages::StatusImages() {
    const QImage strip(kStatusBitmap);
    if (strip.width() >= kStatusImageSize * kStatusImageCount) {
        for (int i = 0; i < kStatusImageCount; ++i) {
            QPixmap image = QPixmap::fromImage(
                strip.copy(i * kStatusImageSize, 0, kStatusImageSize, kStatusImageSize));
            image.setMask(image.createMaskFromColor(QColor(255, 0, 255), Qt::MaskInColor));
            m_icons.emplace_back(image);
        }
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
    return icon;
}

QPixmap ApplicationPixmap(int size) {
    return ApplicationIcon().pixmap(size, size);
}

}  // namespace lumidex
