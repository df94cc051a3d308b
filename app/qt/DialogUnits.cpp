#include "DialogUnits.h"

namespace qtview {

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX_ = (width / 26 + 1) / 2;
    baseY_ = fm.height();
    if (baseX_ <= 0) {
        baseX_ = 6;
    }
    if (baseY_ <= 0) {
        baseY_ = 12;
    }
}

QFont DialogFont() {
    QFont font(QStringLiteral("Noto Sans CJK SC"), 9);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace qtview
