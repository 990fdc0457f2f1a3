#pragma once

#include <QRect>

class QFont;

namespace varnel {

// Dialog units of a font: a horizontal unit is a quarter of the font's average
// character width, a vertical one an eighth of its height. The window takes the
// application's default font as its dialog font.
class DialogUnits {
public:
    DialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}
    static DialogUnits ForFont(const QFont& font);

    int ToPixelsX(int units) const;
    int ToPixelsY(int units) const;
    QRect ToPixels(int x, int y, int w, int h) const;

private:
    int m_baseX;
    int m_baseY;
};

} // namespace varnel
