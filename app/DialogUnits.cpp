#include "app/DialogUnits.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QList>
#include <QStringList>
#include <cstdlib>
#include <limits>
#include <map>

namespace lumidex {
namespace {

// Names under which the template's face may be installed.
const char* const kTemplateFaces[] = {"SimSun", "NSimSun", "宋体", "新宋体"};
// Substitutes, best first when their metrics tie. The template's face lays out a 9-point
// dialog with 6 x 12 pixel units (Latin letters half the width of a CJK character, height one
// em); a face with taller line spacing or wider Latin letters would stretch every control.
const char* const kSubstituteFaces[] = {
    "WenQuanYi Zen Hei Sharp", "AR PL UMing CN",   "Noto Serif CJK SC",  "Source Han Serif SC",
    "WenQuanYi Zen Hei",       "Noto Sans CJK SC", "Source Han Sans SC", "WenQuanYi Micro Hei",
};

// Rounded a * b / c, as the Windows MulDiv the dialog manager uses.
int MulDiv(int a, int b, int c) {
    return static_cast<int>((static_cast<long long>(a) * b * 2 + c) / (2LL * c));
}

// How far a face's units are from the template face's at that size.
int Distance(const QString& family, int points) {
    QFont font(family);
    font.setPointSize(points);
    const BaseUnits units = BaseUnitsOf(font);
    const int em = QFontInfo(font).pixelSize();
    return std::abs(units.x * 2 - em) + std::abs(units.y - em);
}

QString InstalledFace(const QString& face, int points) {
    const QStringList families = QFontDatabase::families();
    if (families.contains(face)) {
        return face;
    }
    for (const char* name : kTemplateFaces) {
        if (families.contains(name)) {
            return name;
        }
    }
    QStringList candidates;
    for (const char* name : kSubstituteFaces) {
        if (families.contains(name)) {
            candidates << name;
        }
    }
    if (candidates.isEmpty()) {
        for (const QString& family : families) {
            if (QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese)) {
                candidates << family;
            }
        }
    }
    QString best = face;
    int bestDistance = std::numeric_limits<int>::max();
    for (const QString& candidate : candidates) {
        const int distance = Distance(candidate, points);
        if (distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

}  // namespace

QFont DialogFont(const QString& face, int points) {
    // Looked up once per face and size: the font database does not change while we run.
    static std::map<std::pair<QString, int>, QString> chosen;
    auto found = chosen.find({face, points});
    if (found == chosen.end()) {
        found = chosen.emplace(std::pair{face, points}, InstalledFace(face, points)).first;
    }
    QFont font(found->second);
    font.setPointSize(points);
    return font;
}

BaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    // The dialog manager's average width: the 52 Latin letters, halved and rounded.
    const int letters =
        metrics.horizontalAdvance("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
    BaseUnits units;
    units.x = (letters / 26 + 1) / 2;
    units.y = metrics.height();
    return units;
}

int DluToPixelsX(int dlu, BaseUnits units) {
    return MulDiv(dlu, units.x, 4);
}

int DluToPixelsY(int dlu, BaseUnits units) {
    return MulDiv(dlu, units.y, 8);
}

QRect DluToPixels(const QRect& dlu, BaseUnits units) {
    return QRect(DluToPixelsX(dlu.x(), units), DluToPixelsY(dlu.y(), units),
                 DluToPixelsX(dlu.width(), units), DluToPixelsY(dlu.height(), units));
}

QSize DluToPixels(const QSize& dlu, BaseUnits units) {
    return QSize(DluToPixelsX(dlu.width(), units), DluToPixelsY(dlu.height(), units));
}

}  // namespace lumidex
