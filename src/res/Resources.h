#pragma once

#include <QCursor>
#include <QIcon>
#include <QPixmap>
#include <QPoint>

namespace varnel::res {

// The pointing hand's hot spot: the tip of the index finger.
inline constexpr QPoint kHandHotSpot{5, 0};

// The program icon in both sizes (32 and 16 pixels).
QIcon ProgramIcon();
// 152 x 54 pixels.
QPixmap Logo();
// 16 x 16 indicator discs on white: red is "off", green is "on".
QPixmap RedDisc();
QPixmap GreenDisc();
QCursor HandCursor();

} // namespace varnel::res
