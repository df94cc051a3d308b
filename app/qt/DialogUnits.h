#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QRect>

#include "app/WindowDescription.h"
#include "app/WindowLayout.h"

namespace qtview {

// Dialog units to pixels through the dialog font, as Windows does it: the base
// width is the average width of the Latin letters, the base height the font's
// character height.
class DialogUnits : public app::DialogUnits {
  public:
    explicit DialogUnits(const QFont& font) : app::DialogUnits(FromFont(font)) {}
    DialogUnits(int baseX, int baseY) : app::DialogUnits(baseX, baseY) {}

    QRect Rect(int x, int y, int w, int h) const { return QRect(X(x), Y(y), X(w), Y(h)); }
    QRect Rect(const app::DuBox& b) const { return Rect(b.x, b.y, b.w, b.h); }

  private:
    static app::DialogUnits FromFont(const QFont& font);
};

// The stand-in for the template's 9-point SimSun: a CJK sans family.
QFont DialogFont();

}  // namespace qtview
