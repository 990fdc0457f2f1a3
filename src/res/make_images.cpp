// Draws the program's images into a folder: icon (32 and 16 pixels, 16 colours),
// logo (152 x 54, 256 colours), the red and green indicator discs (16 x 16, 4 bits
// per pixel, standard palette) and the pointing-hand cursor (32 x 32, two colours
// plus transparency). The results are committed beside this file; run it again
// only when a picture is to change:
//   cmake --build <build> --target varnel_make_images && <build>/src/res/varnel_make_images src/res/images

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

// The standard 16-colour palette, in its usual index order.
const std::array<QRgb, 16> kStandardPalette{
    qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
    qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
    qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
    qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};

constexpr int kRed = 9;
constexpr int kLime = 10;
constexpr int kWhite = 15;

// Columns covered by the disc in each of the 16 rows; -1 where the row is white.
constexpr std::array<std::array<int, 2>, 16> kDiscRows{{{-1, -1},
                                                        {5, 10},
                                                        {4, 11},
                                                        {3, 12},
                                                        {2, 13},
                                                        {1, 14},
                                                        {1, 14},
                                                        {1, 14},
                                                        {1, 14},
                                                        {1, 14},
                                                        {1, 14},
                                                        {2, 13},
                                                        {3, 12},
                                                        {4, 11},
                                                        {5, 10},
                                                        {-1, -1}}};

void PutLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A 4-bit bottom-up BMP with the standard palette; QImage writes no 4-bit BMPs.
bool WriteDiscBmp(const QString& path, int discIndex)
{
    constexpr int kSide = 16;
    constexpr int kRowBytes = 8; // 16 pixels at 4 bits, already a multiple of 4
    constexpr std::uint32_t kPixelOffset = 14 + 40 + 16 * 4;
    std::vector<std::uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    PutLe(out, kPixelOffset + kRowBytes * kSide, 4);
    PutLe(out, 0, 4);
    PutLe(out, kPixelOffset, 4);
    PutLe(out, 40, 4);
    PutLe(out, kSide, 4);
    PutLe(out, kSide, 4);
    PutLe(out, 1, 2);
    PutLe(out, 4, 2);
    PutLe(out, 0, 4);
    PutLe(out, kRowBytes * kSide, 4);
    PutLe(out, 0, 4);
    PutLe(out, 0, 4);
    PutLe(out, 16, 4);
    PutLe(out, 0, 4);
    for (QRgb c : kStandardPalette) {
        out.push_back(static_cast<std::uint8_t>(qBlue(c)));
        out.push_back(static_cast<std::uint8_t>(qGreen(c)));
        out.push_back(static_cast<std::uint8_t>(qRed(c)));
        out.push_back(0);
    }
    for (int y = kSide - 1; y >= 0; --y) {
        const auto [first, last] = kDiscRows[static_cast<std::size_t>(y)];
        for (int x = 0; x < kSide; x += 2) {
            auto pixel = [&](int col) { return col >= first && col <= last ? discIndex : kWhite; };
            out.push_back(static_cast<std::uint8_t>((pixel(x) << 4) | pixel(x + 1)));
        }
    }
    QFile f(path);
    return f.open(QIODevice::WriteOnly)
           && f.write(reinterpret_cast<const char*>(out.data()), static_cast<qint64>(out.size()))
                  == static_cast<qint64>(out.size());
}

QImage ToStandardPalette(const QImage& image)
{
    QList<QRgb> table(kStandardPalette.begin(), kStandardPalette.end());
    return image.convertToFormat(QImage::Format_Indexed8, table, Qt::ThresholdDither);
}

// A meter front: grey case, a dark display with lime digits, a red optical port.
QImage DrawIcon(int side)
{
    QImage img(side, side, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    const double s = side / 32.0;
    p.scale(s, s);
    p.setPen(QPen(QColor(0, 0, 128), 2));
    p.setBrush(QColor(192, 192, 192));
    p.drawRect(3, 1, 26, 30);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0));
    p.drawRect(6, 5, 20, 9);
    p.setBrush(QColor(0, 255, 0));
    for (int i = 0; i < 4; ++i)
        p.drawRect(8 + 4 * i, 7, 3, 5);
    p.setBrush(QColor(255, 0, 0));
    p.drawEllipse(QRectF(11, 18, 10, 10));
    p.setBrush(QColor(128, 0, 0));
    p.drawEllipse(QRectF(14, 21, 4, 4));
    p.end();
    // Keep transparency as the palette's first entry after quantising.
    QImage indexed = ToStandardPalette(img);
    indexed.setColorCount(17);
    indexed.setColor(16, qRgba(0, 0, 0, 0));
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            if (qAlpha(img.pixel(x, y)) < 128)
                indexed.setPixel(x, y, 16);
    return indexed;
}

QImage DrawLogo()
{
    QImage img(152, 54, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, 0, 54);
    bg.setColorAt(0, QColor(18, 52, 110));
    bg.setColorAt(1, QColor(8, 24, 60));
    p.fillRect(img.rect(), bg);
    // A pulse trace, the kind a meter's optical port blinks.
    QPainterPath pulse;
    pulse.moveTo(4, 40);
    const int xs[] = {14, 18, 22, 26, 30, 34, 44};
    const int ys[] = {40, 14, 48, 22, 40, 40, 40};
    for (int i = 0; i < 7; ++i)
        pulse.lineTo(xs[i], ys[i]);
    p.setPen(QPen(QColor(120, 230, 120), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(pulse);
    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(26);
    title.setBold(true);
    title.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    p.setFont(title);
    p.setPen(QColor(255, 255, 255));
    p.drawText(QRect(46, 4, 104, 32), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Varnel"));
    QFont sub(QStringLiteral("DejaVu Sans"));
    sub.setPixelSize(10);
    p.setFont(sub);
    p.setPen(QColor(170, 200, 240));
    p.drawText(QRect(47, 34, 104, 14), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("meter readout"));
    p.end();
    return img.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
}

// 'X' black, '.' white, anything else transparent; the index finger's tip is (5, 0).
const char* const kHand[] = {
    "     XX",           "    X..X",          "    X..X",          "    X..X",         "    X..X",
    "    X..XXX",        "    X..X..XXX",     "    X..X..X..XX",   " XX X..X..X..X.X", "X..XX..X..X..X..X",
    "X...X...........X", " X..............X", "  X.............X", "  X............X", "   X...........X",
    "   X..........X",   "    X.........X",   "    X.........X",   "    XXXXXXXXXXX",
};

QImage DrawHand()
{
    QImage img(32, 32, QImage::Format_Indexed8);
    img.setColorTable({qRgba(0, 0, 0, 0), qRgb(0, 0, 0), qRgb(255, 255, 255)});
    img.fill(0);
    int y = 0;
    for (const char* row : kHand) {
        for (int x = 0; row[x] != '\0'; ++x)
            img.setPixel(x, y, row[x] == 'X' ? 1 : row[x] == '.' ? 2 : 0);
        ++y;
    }
    return img;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    bool ok = WriteDiscBmp(dir.filePath(QStringLiteral("disc_red.bmp")), kRed)
              && WriteDiscBmp(dir.filePath(QStringLiteral("disc_green.bmp")), kLime)
              && DrawIcon(32).save(dir.filePath(QStringLiteral("icon32.png")))
              && DrawIcon(16).save(dir.filePath(QStringLiteral("icon16.png")))
              && DrawLogo().save(dir.filePath(QStringLiteral("logo.png")))
              && DrawHand().save(dir.filePath(QStringLiteral("hand.png")));
    if (!ok)
        std::fprintf(stderr, "cannot write the images into %s\n", argv[1]);
    return ok ? 0 : 1;
}
