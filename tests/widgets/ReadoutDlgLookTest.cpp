#include "ResultList.h"
#include "Window.h"
#include "readout/BlockCheck.h"

#include <QDir>
#include <QPainter>
#include <QStyle>
#include <QTableView>
#include <QToolTip>

using namespace varnel;
using test::Col;
using test::Window;

namespace {

// Where `image` differs from `background`.
QRect Inked(const QImage& image, QRgb background)
{
    QRect inked;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != background)
                inked |= QRect(x, y, 1, 1);
    return inked;
}

// The most pixels that differ within one row.
int WidestChange(const QImage& a, const QImage& b)
{
    int widest = 0;
    for (int y = 0; y < std::min(a.height(), b.height()); ++y) {
        int n = 0;
        for (int x = 0; x < std::min(a.width(), b.width()); ++x)
            n += a.pixel(x, y) != b.pixel(x, y);
        widest = std::max(widest, n);
    }
    return widest;
}

// Counts the ticks of the list's own timers: parentless, at its refresh period.
struct ListTicks : QObject {
    ListTicks() { qApp->installEventFilter(this); }
    bool eventFilter(QObject* object, QEvent* event) override
    {
        const auto* timer = qobject_cast<QTimer*>(object);
        count += event->type() == QEvent::Timer && timer && !timer->parent() && timer->intervalAsDuration() == kListRefresh;
        return false;
    }
    int count = 0;
};

} // namespace

// The window as a user sees it; with VARNEL_SCREENSHOT_DIR set, also written there as PNGs
// (scripts/screenshot).
class ReadoutDlgLookTest : public QObject {
    Q_OBJECT

private slots:
    void windowBeforeAndAfterReadout()
    {
        Window w;
        w.dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.dlg));
        const QString outDir = qEnvironmentVariable("VARNEL_SCREENSHOT_DIR");
        bool saved = true;
        const auto shoot = [&](const char* name) {
            const QImage img = w.dlg.grab().toImage();
            if (!outDir.isEmpty())
                saved = img.save(QDir(outDir).filePath(QString::fromLatin1(name))) && saved;
            return img;
        };
        const auto tick = [&] {
            w.clock.Advance(50);
            w.dlg.OnTimer(TIMER_RECEIVE);
        };
        const QImage before = shoot("varnel-start.png");
        ListTicks ticks;
        w.dlg.OnRead();
        w.port.Feed("/ABC5\\2XYZ-Meter 42\r\n");
        tick();
        std::string block = "\x02";
        for (int i = 0; i < 40; ++i)
            block += "1.8." + std::to_string(i) + "(0" + std::to_string(1000 + i) + ".5*kWh)\r\n";
        block += "0.9.1(103)\r\n!\r\n\x03";
        w.port.Feed(block + char(BlockCheck(reinterpret_cast<const std::uint8_t*>(block.data()) + 1, block.size() - 1)));
        tick();

        // The last row is scrolled wholly into view; the list then rests.
        auto* list = w.Get<QTableView>(IDC_LIST);
        const auto last = [list] { return list->model()->index(list->model()->rowCount() - 1, 0); };
        QTRY_COMPARE(last().data().toString(), QStringLiteral(" -- BCC -- "));
        QTRY_VERIFY(list->viewport()->rect().contains(list->visualRect(last())));
        const int settled = ticks.count;
        QTest::qWait(2 * kListRefresh.count() + 100);
        QCOMPARE(ticks.count, settled);
        const QModelIndex row = list->model()->match(list->model()->index(0, 0), Qt::DisplayRole, "1.8.7(01007.5*kWh)")[0];
        QCOMPARE(row.siblingAtColumn(1).data().toString() + '|' + row.siblingAtColumn(2).data().toString(), "1.8.7|01007.5");
        QVERIFY(shoot("varnel-readout.png") != before);

        w.Click(IDC_TEST);
        QCoreApplication::processEvents();
        shoot("varnel-linetest.png");
        QVERIFY(saved);
    }

    void linkInTheWindow()
    {
        Window w;
        w.dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.dlg));
        CLinkLabel* link = w.dlg.LinkLabel();
        QCOMPARE(link->text(), QStringLiteral("varnel.example.org"));
        QHelpEvent hover(QEvent::ToolTip, link->rect().center(), link->mapToGlobal(link->rect().center()));
        QCoreApplication::sendEvent(link, &hover);
        QCOMPARE(QToolTip::text(), QStringLiteral("https://varnel.example.org/"));
        QToolTip::hideText();
        // A hand, pointing with its fingertip where the hot spot is.
        QCOMPARE(link->cursor().hotSpot(), QPoint(5, 0));
        QCOMPARE(link->cursor().pixmap().toImage().pixelColor(5, 0), QColor(Qt::black));

        const QImage underlined = link->grab().toImage();
        const QFont font = link->font();
        link->setFont(QFont(font.family(), font.pointSize() * 3));
        QCOMPARE(link->grab().toImage(), underlined); // the underlined font is made once, at the first paint
        link->setFont(font);
        link->SetUnderlineMode(false);
        // The underline: one row across the text.
        QVERIFY(WidestChange(underlined, link->grab().toImage()) >= link->width() * 3 / 4);
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(w.opened, QList<QUrl>{QUrl(QString::fromLatin1(kMakerUrl))});
    }

    void minimisedShowsTheIconCentred_data()
    {
        QTest::addColumn<int>("wider");
        QTest::newRow("as laid out") << 0;
        QTest::newRow("one pixel wider") << 1;
    }
    void minimisedShowsTheIconCentred()
    {
        Window w;
        w.dlg.setFixedSize(w.dlg.size() + QSize(Col<int>("wider"), Col<int>("wider")));
        w.dlg.showMinimized();
        const int side = w.dlg.style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, &w.dlg);
        const QRgb background = w.dlg.palette().window().color().rgb();
        QImage icon(side, side, QImage::Format_RGB32);
        icon.fill(background);
        QPainter(&icon).drawPixmap(0, 0, w.dlg.windowIcon().pixmap(side, side));
        QImage shown(w.dlg.size(), QImage::Format_RGB32);
        w.dlg.render(&shown, {}, {}, QWidget::DrawWindowBackground); // the window's own painting
        // The spare pixel of an odd margin goes left, and up.
        const QSize spare = w.dlg.size() - QSize(side, side);
        QCOMPARE(Inked(shown, background).topLeft() - Inked(icon, background).topLeft(),
                 QPoint(spare.width() - spare.width() / 2, spare.height() - spare.height() / 2));
    }

    void rowsAppendAndIgnoreMissingRows()
    {
        ResultRowModel rows;
        rows.InsertRow(0, QStringLiteral("a"));
        rows.InsertRow(7, QStringLiteral("c"));
        rows.InsertRow(1, QStringLiteral("b"));
        rows.SetRowColumns(1, QStringLiteral("code"), QStringLiteral("value"));
        rows.SetRowColumns(3, QStringLiteral("x"), QStringLiteral("y"));
        rows.SetRowColumns(-1, QStringLiteral("x"), QStringLiteral("y"));
        QCOMPARE(rows.rowCount(), 3);
        QStringList cells;
        for (int r = 0; r < 3; ++r)
            cells << rows.Text(r, 0) + rows.Text(r, 1) + rows.Text(r, 2);
        QCOMPARE(cells, (QStringList{"a", "bcodevalue", "c"}));
        rows.Clear();
        QCOMPARE(rows.rowCount(), 0);
    }

    void toolTipOnlyForCutOffText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("column");
        QTest::addColumn<bool>("cutOff");
        QTest::newRow("short data") << QStringLiteral("1.8.0(1)") << 0 << false;
        QTest::newRow("long data") << QString(80, QLatin1Char('W')) << 0 << true;
        QTest::newRow("long code") << QString(30, QLatin1Char('W')) << 1 << true;
        QTest::newRow("short code") << QStringLiteral("1.8.0") << 1 << false;
    }
    // Also where the window has a tip of its own: the list answers for its cells.
    void toolTipOnlyForCutOffText()
    {
        const QString text = Col<QString>("text");
        const int column = Col<int>("column");
        QWidget window;
        window.setToolTip(QStringLiteral("window"));
        window.resize(500, 200);
        ResultListView view(&window);
        ResultRowModel rows;
        view.setModel(&rows);
        view.AddExtendedStyles();
        view.SetUpColumns();
        view.resize(450, 150);
        rows.InsertRow(0, column == 0 ? text : QString());
        rows.SetRowColumns(0, column == 1 ? text : QString(), QString());
        rows.Flush();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint at = view.visualRect(rows.index(0, column)).center();
        QHelpEvent hover(QEvent::ToolTip, at, view.viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(view.viewport(), &hover);
        QCOMPARE(QToolTip::text() == text, Col<bool>("cutOff"));
        QVERIFY(QToolTip::text() != QStringLiteral("window"));
        QToolTip::hideText();
    }
};

QTEST_MAIN(ReadoutDlgLookTest)
#include "ReadoutDlgLookTest.moc"
