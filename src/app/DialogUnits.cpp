#include "DialogUnits.h"

#include <QFont>
#include <QFontMetrics>
#include <QString>

namespace varnel {

namespace {

// units * base / divisor rounded half away from zero, as dialog templates round.
int Scale(int units, int base, int divisor)
{
    const long long product = static_cast<long long>(units) * base;
    const long long half = divisor / 2;
    return static_cast<int>(product >= 0 ? (product + half) / divisor : (product - half) / divisor);
}

} // namespace

DialogUnits DialogUnits::ForFont(const QFont& font)
{
    // The average width is taken over the 52 letters, the way dialog fonts are measured.
    const QFontMetrics fm(font);
    const int letters =
        fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogUnits((letters / 26 + 1) / 2, fm.height());
}

int DialogUnits::ToPixelsX(int units) const
{
    return Scale(units, m_baseX, 4);
}

int DialogUnits::ToPixelsY(int units) const
{
    return Scale(units, m_baseY, 8);
}

QRect DialogUnits::ToPixels(int x, int y, int w, int h) const
{
    return QRect(ToPixelsX(x), ToPixelsY(y), ToPixelsX(w), ToPixelsY(h));
}

} // namespace varnel
