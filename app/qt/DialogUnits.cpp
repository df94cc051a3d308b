#include "DialogUnits.h"

namespace qtview {

app::DialogUnits DialogUnits::FromFont(const QFont& font) {
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int baseX = (width / 26 + 1) / 2;
    const int baseY = fm.height();
    return {baseX > 0 ? baseX : 6, baseY > 0 ? baseY : 12};
}

QFont DialogFont() {
    QFont font(QStringLiteral("Noto Sans CJK SC"), 9);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace qtview
