#include "FakeClock.h"
#include "FakePort.h"
#include "ReadoutDlg.h"
#include "ResultList.h"
#include "Resources.h"
#include "TempDir.h"
#include "core/ControlIds.h"
#include "readout/BlockCheck.h"
#include "widgets/CLinkLabel.h"

#include <QDir>
#include <QImage>
#include <QPushButton>
#include <QtTest>

using namespace varnel;

// The pictures, the list's own behaviour, and the window as a user sees it; with
// VARNEL_SCREENSHOT_DIR set, the window is also written there as PNGs (scripts/screenshot).
class ReadoutDlgLookTest : public QObject {
    Q_OBJECT

private slots:
    void discsPixelByPixel_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<QColor>("disc");
        QTest::newRow("red") << res::RedDisc().toImage() << QColor(255, 0, 0);
        QTest::newRow("green") << res::GreenDisc().toImage() << QColor(0, 255, 0);
    }

    void discsPixelByPixel()
    {
        QFETCH(QImage, image);
        QFETCH(QColor, disc);
        QCOMPARE(image.size(), QSize(16, 16));
        // First and last column of the disc in each row; rows 0 and 15 are white.
        const int spans[16][2] = {{99, -1}, {5, 10}, {4, 11}, {3, 12}, {2, 13}, {1, 14}, {1, 14}, {1, 14},
                                  {1, 14},  {1, 14}, {1, 14}, {2, 13}, {3, 12}, {4, 11}, {5, 10}, {99, -1}};
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const QColor want = x >= spans[y][0] && x <= spans[y][1] ? disc : QColor(255, 255, 255);
                QVERIFY2(image.pixelColor(x, y) == want, qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
            }
    }

    void iconLogoAndCursor()
    {
        for (int side : {16, 32}) {
            const QImage img = res::ProgramIcon().pixmap(side, side).toImage();
            QCOMPARE(img.size(), QSize(side, side));
            QCOMPARE(img.pixelColor(side / 2, side / 2).alpha(), 255);
        }
        QCOMPARE(res::Logo().size(), QSize(152, 54));

        const QCursor hand = res::HandCursor();
        QCOMPARE(hand.hotSpot(), QPoint(5, 0));
        const QImage img = hand.pixmap().toImage();
        QCOMPARE(img.size(), QSize(32, 32));
        // The hot spot is on the fingertip's outline: opaque black, nothing above it.
        QCOMPARE(img.pixelColor(5, 0), QColor(0, 0, 0));
        for (int x = 0; x < 32; ++x)
            if (x != 5 && x != 6)
                QCOMPARE(img.pixelColor(x, 0).alpha(), 0);
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
        QCOMPARE(rows.Text(0, 0) + rows.Text(1, 0) + rows.Text(2, 0), QStringLiteral("abc"));
        QCOMPARE(rows.Text(1, 1), QStringLiteral("code"));
        QCOMPARE(rows.Text(1, 2), QStringLiteral("value"));
        QCOMPARE(rows.Text(2, 1), QString());
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
    }

    void toolTipOnlyForCutOffText()
    {
        QFETCH(QString, text);
        QFETCH(int, column);
        QFETCH(bool, cutOff);
        ResultListView view;
        ResultRowModel rows;
        view.setModel(&rows);
        view.SetUpColumns();
        rows.InsertRow(0, column == 0 ? text : QString());
        rows.SetRowColumns(0, column == 1 ? text : QString(), QString());
        rows.Flush();
        QCOMPARE(view.TruncatedText(rows.index(0, column)), cutOff ? text : QString());
    }

    void windowBeforeAndAfterReadout()
    {
        test::TempDir dir;
        test::FakeClock clock;
        test::FakePort port(&clock);
        PortNames names;
        CReadoutDlg dlg(port, clock, names, {}, dir.File("Log1107.txt"));
        dlg.LinkLabel()->SetDesktop({});
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const QString outDir = qEnvironmentVariable("VARNEL_SCREENSHOT_DIR");
        bool saved = true;
        const auto shoot = [&](const char* name) {
            const QImage img = dlg.grab().toImage();
            if (!outDir.isEmpty())
                saved = img.save(QDir(outDir).filePath(QString::fromLatin1(name))) && saved;
            return img;
        };
        const auto tick = [&] {
            clock.Advance(50);
            dlg.OnTimer(TIMER_RECEIVE);
        };
        const QImage before = shoot("varnel-start.png");
        QCOMPARE(before.size(), dlg.size() * before.devicePixelRatio());

        dlg.OnRead();
        port.Feed("/ABC5\\2XYZ-Meter 42\r\n");
        tick();
        std::string block = "\x02";
        for (int i = 0; i < 40; ++i)
            block += "1.8." + std::to_string(i) + "(0" + std::to_string(1000 + i) + ".5*kWh)\r\n";
        block += "0.9.1(103)\r\n!\r\n\x03";
        port.Feed(block + char(BlockCheck(reinterpret_cast<const std::uint8_t*>(block.data()) + 1, block.size() - 1)));
        tick();

        // The last row is scrolled wholly into view.
        auto* list = dlg.findChild<QTableView*>(QStringLiteral("ctl1000"));
        const auto last = [list] { return list->model()->index(list->model()->rowCount() - 1, 0); };
        QTRY_COMPARE(last().data().toString(), QStringLiteral(" -- BCC -- "));
        QTRY_VERIFY(list->viewport()->rect().contains(list->visualRect(last())));
        QVERIFY(shoot("varnel-readout.png") != before);

        static_cast<QPushButton*>(dlg.Control(IDC_TEST))->click();
        QCoreApplication::processEvents();
        shoot("varnel-linetest.png");
        QVERIFY(saved);
    }
};

QTEST_MAIN(ReadoutDlgLookTest)
#include "ReadoutDlgLookTest.moc"
