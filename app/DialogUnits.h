// Dialog units to pixels, as Windows lays out a dialog template: a horizontal unit is a
// quarter of the dialog font's average character width, a vertical unit an eighth of its
// character height.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>

namespace lumidex {

struct BaseUnits {
    int x = 6;   // average character width in pixels
    int y = 12;  // character height in pixels
};

// The template's font face at its size, or the closest installed CJK font when the face is
// absent (a serif face first, as the template's face is one).
QFont DialogFont(const QString& face, int points);
BaseUnits BaseUnitsOf(const QFont& font);

int DluToPixelsX(int dlu, BaseUnits units);
int DluToPixelsY(int dlu, BaseUnits units);
QRect DluToPixels(const QRect& dlu, BaseUnits units);
QSize DluToPixels(const QSize& dlu, BaseUnits units);

}  // namespace lumidex
