#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QRect>

namespace qtview {

// Dialog units to pixels through the dialog font, as Windows does it: the base
// width is the average width of the Latin letters, the base height the font's
// character height; x px = du * width / 4, y px = du * height / 8.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}

    int X(int du) const { return MulDiv(du, baseX_, 4); }
    int Y(int du) const { return MulDiv(du, baseY_, 8); }
    QRect Rect(int x, int y, int w, int h) const { return QRect(X(x), Y(y), X(w), Y(h)); }
    int BaseX() const { return baseX_; }
    int BaseY() const { return baseY_; }

  private:
    // Rounded a * b / c, as the Windows MulDiv.
    static int MulDiv(int a, int b, int c) { return (a * b + c / 2) / c; }
    int baseX_;
    int baseY_;
};

// The stand-in for the template's 9-point SimSun: a CJK sans family.
QFont DialogFont();

}  // namespace qtview
