#include "Resources.h"

#include <QString>

// The images live in a static library: referencing the initialiser keeps the
// linker from dropping them. Registering twice is harmless.
static void EnsureImages()
{
    Q_INIT_RESOURCE(varnel);
}

namespace varnel::res {

QIcon ProgramIcon()
{
    EnsureImages();
    QIcon icon;
    icon.addFile(QStringLiteral(":/varnel/icon32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/varnel/icon16.png"), QSize(16, 16));
    return icon;
}

QPixmap Logo()
{
    EnsureImages();
    return QPixmap(QStringLiteral(":/varnel/logo.png"));
}

QPixmap RedDisc()
{
    EnsureImages();
    return QPixmap(QStringLiteral(":/varnel/disc_red.bmp"));
}

QPixmap GreenDisc()
{
    EnsureImages();
    return QPixmap(QStringLiteral(":/varnel/disc_green.bmp"));
}

QCursor HandCursor()
{
    EnsureImages();
    return QCursor(QPixmap(QStringLiteral(":/varnel/hand.png")), kHandHotSpot.x(), kHandHotSpot.y());
}

} // namespace varnel::res
