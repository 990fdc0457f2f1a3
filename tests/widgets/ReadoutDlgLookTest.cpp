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
        bool saved = true;
        const auto shoot = [&](const char* name) {
            const QImage img = w.dlg.grab().toImage();
            if (const QString dir = qEnvironmentVariable("VARNEL_SCREENSHOT_DIR"); !dir.isEmpty())
                saved = img.save(QDir(dir).filePath(QString::fromLatin1(name))) && saved;
            return img;
        };
        const QImage before = shoot("varnel-start.png");
        std::string block = "\x02";
        for (int i = 0; i < 40; ++i)
            block += "1.8." + std::to_string(i) + "(0" + std::to_string(1000 + i) + ".5*kWh)\r\n";
        block += "0.9.1(103)\r\n!\r\n\x03";
        w.dlg.OnRead();
        for (const std::string& bytes : {std::string("/ABC5\\2XYZ-Meter 42\r\n"),
                                         block + char(BlockCheck(reinterpret_cast<const std::uint8_t*>(block.data()) + 1,
                                                                 block.size() - 1))}) {
            w.port.Feed(bytes);
            w.clock.Advance(50);
            w.dlg.OnTimer(TIMER_RECEIVE);
        }
        // The last row is scrolled wholly into view.
        auto* list = w.Get<ResultListView>(IDC_LIST);
        const auto last = [list] { return list->model()->index(list->model()->rowCount() - 1, 0); };
        QTRY_COMPARE(last().data().toString(), QStringLiteral(" -- BCC -- "));
        QTRY_VERIFY(list->viewport()->rect().contains(list->visualRect(last())));
        const QModelIndex row = list->model()->match(list->model()->index(0, 0), Qt::DisplayRole, "1.8.7(01007.5*kWh)")[0];
        QCOMPARE(row.siblingAtColumn(1).data().toString() + '|' + row.siblingAtColumn(2).data().toString(), "1.8.7|01007.5");
        QVERIFY(shoot("varnel-readout.png") != before);
        // Once settled, the next row is held back with the repaint again.
        list->ScrollToRow(0);
        QVERIFY(!list->updatesEnabled());
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
        const QImage plain = link->grab().toImage();
        // The underline: a row of pixels across the text.
        int widest = 0;
        for (int y = 0; y < plain.height(); ++y) {
            int changed = 0;
            for (int x = 0; x < plain.width(); ++x)
                changed += plain.pixel(x, y) != underlined.pixel(x, y);
            widest = std::max(widest, changed);
        }
        QVERIFY(widest >= link->width() * 3 / 4);
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
        const QSize spare = w.dlg.size() - QSize(side, side);
        QImage shown(w.dlg.size(), QImage::Format_RGB32), expected(shown);
        w.dlg.render(&shown, {}, {}, QWidget::DrawWindowBackground); // the window's own painting
        expected.fill(w.dlg.palette().window().color());
        // The spare pixel of an odd margin goes left, and up.
        QPainter(&expected).drawPixmap(spare.width() - spare.width() / 2, spare.height() - spare.height() / 2,
                                       w.dlg.windowIcon().pixmap(side, side));
        QCOMPARE(shown, expected);
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
        Window w;
        w.dlg.setToolTip(QStringLiteral("window"));
        w.dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.dlg));
        w.dlg.Rows()->InsertRow(0, column == 0 ? text : QString());
        w.dlg.Rows()->SetRowColumns(0, column == 1 ? text : QString(), QString());
        w.dlg.Rows()->Flush();
        auto* list = w.Get<ResultListView>(IDC_LIST);
        const QPoint at = list->visualRect(w.dlg.Rows()->index(0, column)).center();
        QHelpEvent hover(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(list->viewport(), &hover);
        QCOMPARE(QToolTip::text() == text, Col<bool>("cutOff"));
        QVERIFY(QToolTip::text() != QStringLiteral("window"));
        QToolTip::hideText();
    }
};

QTEST_MAIN(ReadoutDlgLookTest)
#include "ReadoutDlgLookTest.moc"
