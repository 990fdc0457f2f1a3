// The window as a user sees and works it; windowBeforeAndAfterReadout writes PNGs to $VARNEL_SCREENSHOT_DIR
// if set (scripts/screenshot).
#include "FakeClock.h"
#include "FakePort.h"
#include "LogViewer.h"
#include "OnScreen.h"
#include "ReadoutDlg.h"
#include "ResultList.h"
#include "StartSettings.h"
#include "TempDir.h"
#include "core/ControlIds.h"
#include "readout/BlockCheck.h"
#include "widgets/CLinkLabel.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QtTest>

using namespace varnel;

namespace {

// A window on a fake port, the desktop declining what it is asked to open, any message box a failure unless
// it is to show its boxes; given a settings file, it starts from it and saves to it at exit.
struct Window {
    explicit Window(std::filesystem::path file = {}, bool boxes = false)
        : ini(std::move(file)),
          start(ini.empty() ? StartSettings{} : LoadStartSettings(ini)),
          port(&clock),
          dlg(port, clock, start.names, start.window, dir.File("Log1107.txt"))
    {
        if (!boxes)
            dlg.SetMessageHandler([](const std::string& text, MessageIcon) { QFAIL(text.c_str()); });
        dlg.SetUrlOpener([this](const QUrl& url) { return opened << url, false; });
        new QAbstractItemModelTester(dlg.Rows(), QAbstractItemModelTester::FailureReportingMode::QtTest,
                                     &dlg);
        dlg.SetDestroyHandler([this](int portIndex, const QRect& rect) {
            if (++exits, !ini.empty())
                SaveWindowSettings(portIndex, rect, ini);
        });
    }
    template <typename T = QWidget> T* Get(int id) const { return static_cast<T*>(dlg.Control(id)); }

    test::TempDir dir;
    std::filesystem::path ini;
    StartSettings start;
    test::FakeClock clock;
    test::FakePort port;
    QList<QUrl> opened;
    int exits = 0;
    CReadoutDlg dlg;
};

} // namespace

class ReadoutDlgLookTest : public QObject {
    Q_OBJECT

    test::TempDir m_dir;
    const std::string m_ini = m_dir.File("Varnel.ini");
    std::string Ini(const std::string& text) const { return std::ofstream(m_ini) << text, m_ini; }
    QString Saved() const { return QString::fromStdString(test::ReadFileBytes(m_ini)); }

private slots:
    // For the font in use: every text whole, no control over another, the line-test row out of sight.
    void asItStarts()
    {
        Window w;
        const auto items = [&w](int id) {
            auto* combo = w.Get<QComboBox>(id);
            QStringList items{QString::number(combo->currentIndex())};
            for (int i = 0; i < combo->count(); ++i)
                items << combo->itemText(i);
            return items;
        };
        const QString rates = " 300 600 1200 2400 4800 9600 19200 38400 57600";
        QCOMPARE(items(IDC_INITIAL_BAUD).join(' ') + '|' + items(IDC_TRANSMIT_BAUD).join(' '),
                 "0 Auto (300)" + rates + "|0 Auto" + rates);
        const QStringList ports = items(IDC_PORT);
        QCOMPARE(ports.mid(0, 3) + ports.mid(255), (QStringList{"0", "COM1", "COM2", "COM255", "COM256"}));
        auto* list = w.Get<QTableView>(IDC_LIST);
        QStringList columns;
        for (int c = 0; c < list->model()->columnCount(); ++c)
            columns << list->model()->headerData(c, Qt::Horizontal).toString() + ' '
                           + QString::number(list->columnWidth(c));
        QCOMPARE(columns.join('|'), "Data 200|Code (OBIS) 100|Value 100");
        QVERIFY(list->showGrid() && list->selectionBehavior() == QAbstractItemView::SelectRows);
        QCOMPARE(w.dlg.windowTitle(), QStringLiteral("Varnel"));
        QVERIFY((w.dlg.windowFlags() & Qt::WindowMinimizeButtonHint)
                && !(w.dlg.windowFlags() & Qt::WindowMaximizeButtonHint)
                && w.dlg.maximumSize() == w.dlg.minimumSize());
        QCOMPARE(w.dlg.windowIcon().availableSizes(), (QList<QSize>{{32, 32}, {16, 16}}));
        QList<int> tabs; // from the first stop, which has the focus, round to it again
        for (QWidget* at = w.dlg.focusWidget(); tabs.isEmpty() || at != w.dlg.focusWidget();
             at = at->nextInFocusChain())
            if ((at->focusPolicy() & Qt::TabFocus) && at->parentWidget() == &w.dlg)
                tabs << at->objectName().mid(3).toInt();
        QCOMPARE(tabs, (QList<int>{IDCANCEL_EXIT, IDC_LIST, IDC_READ, IDC_PORT, IDC_SHOW_LOG, IDC_RTS,
                                   IDC_DTR, IDC_TEST, IDC_BREAK, IDC_INITIAL_BAUD, IDC_TRANSMIT_BAUD}));
        QList<QWidget*> shown = w.dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly); // in reading order
        shown.removeIf([&w](QWidget* c) { return !c->isVisibleTo(&w.dlg); });
        std::sort(shown.begin(), shown.end(),
                  [](auto* a, auto* b) { return std::pair(a->y(), a->x()) < std::pair(b->y(), b->x()); });
        QStringList texts;
        for (QWidget* c : shown) {
            texts << c->property("text").toString();
            QVERIFY(c->fontMetrics().horizontalAdvance(texts.back()) <= c->width());
            for (QWidget* other : shown)
                QVERIFY(other == c || other->geometry() == c->geometry()
                        || !other->geometry().intersects(c->geometry()));
            QVERIFY(c->y() >= w.Get(IDC_BREAK)->y() ? c->y() >= w.dlg.height()
                                                    : w.dlg.rect().contains(c->geometry()));
            if (auto* label = qobject_cast<QLabel*>(c);
                label && !texts.back().isEmpty()) // captions beside values
                QCOMPARE(bool(label->alignment() & Qt::AlignRight), texts.back().endsWith(':'));
        }
        texts.removeAll(QString());
        QCOMPARE(texts.join('|'),
                 "Baud rate :|Auto (300)|FLAG :|?|Protocol :|?|Description :|?|"
                 "varnel.example.org|Port COM no.:|Read|Exit|Show log|Initial baudrate:|Test|"
                 "Transmit baudrate:|Break|RTS|DTR|TxD:|RxD:");
        CLinkLabel* link = w.dlg.LinkLabel();
        QCOMPARE(test::ToolTipAt(link, link->rect().center()), QStringLiteral("https://varnel.example.org/"));
        // A hand whose hot spot is on its outline: the fingertip.
        QCOMPARE(link->cursor().pixmap().toImage().pixelColor(link->cursor().hotSpot()), QColor(Qt::black));
        const QImage underlined = link->grab().toImage();
        link->setFont(QFont(link->font().family(), link->font().pointSize() * 3));
        QCOMPARE(link->grab().toImage(), underlined); // the underlined font is made once, at the first paint
    }

    // Test brings the row into view for good; Break and Read work through it. The read's log is offered to
    // the desktop first; the window's own viewer shows it where the desktop declines.
    void lineTestRow()
    {
        Window w;
        const QSize start = w.dlg.size();
        for (int id : {IDC_TEST, IDC_BREAK, IDC_TEST, IDC_READ}) {
            w.Get<QAbstractButton>(id)->click();
            QVERIFY(w.dlg.width() == start.width() && w.dlg.height() > start.height());
            QVERIFY(w.dlg.rect().contains(w.dlg.childrenRect()));
            QCOMPARE(w.Get(IDC_TXD_GREEN)->isVisibleTo(&w.dlg), id == IDC_BREAK);
        }
        QCOMPARE(w.port.CallsStartingWith("open ").back(),
                 "open /dev/ttyS0 300 7E1 rts=1 dtr=1 flow=0000000");
        w.Get<QAbstractButton>(IDC_SHOW_LOG)->click();
        QVERIFY(!w.dlg.Core().rows.IsLogOpen() && w.dlg.Viewer()->isVisible());
        QCOMPARE(w.opened,
                 QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(w.dir.File("Log1107.txt")))});
        QTest::keyClicks(w.dlg.Viewer(), "x"); // read-only
        QCOMPARE(w.dlg.Viewer()->windowTitle() + '|' + w.dlg.Viewer()->toPlainText(),
                 "Log1107.txt|==> /?!<0D><0A>\n");
        const QFontMetrics viewerFont = w.dlg.Viewer()->fontMetrics(); // room for 60 characters by 20 lines
        QVERIFY(w.dlg.Viewer()->viewport()->width() >= viewerFont.horizontalAdvance(QString(60, '0'))
                && w.dlg.Viewer()->viewport()->height() >= 20 * viewerFont.lineSpacing());
        w.Get<QAbstractButton>(IDC_TEST)->click();
        w.port.breakSeen = BreakSeen::Unsupported;
        w.dlg.OnTimer(TIMER_LINE_STATUS);
        QCOMPARE(w.Get(IDC_RXD_RED)->toolTip(), QStringLiteral("This port cannot report breaks on RxD"));
        QCOMPARE(w.Get<QLabel>(IDC_RXD_RED)->pixmap().toImage().pixelColor(8, 8), QColor(Qt::red));
        QCOMPARE(w.Get<QLabel>(IDC_TXD_GREEN)->pixmap().toImage().pixelColor(8, 8), QColor(Qt::green));
    }

    // The window starts where the file says, if partly off screen, at its own size; the user picks a rate and
    // a port, moves the window and ends; the next run starts from there.
    void choicesComeBackNextRun()
    {
        const std::string ports = "[Ports]\ncom3=/dev/serial/by-id/usb-Varnel_Probe-if00\n";
        Window w(Ini(ports + "[Varnel]\nPosX=-12\nPosY=30\nPosDX=1000\nPosDY=50\n"));
        QCOMPARE(w.dlg.frameGeometry().topLeft(), QPoint(-12, 30));
        QCOMPARE(w.dlg.size(), Window().dlg.size());
        for (int id : {IDC_INITIAL_BAUD, IDC_PORT, IDC_PORT})
            QTest::keyClick(w.Get(id), Qt::Key_Down);
        QCOMPARE(w.Get<QLabel>(IDC_BAUD_LABEL)->text() + ' ' + w.Get(IDC_PORT)->toolTip(),
                 "300 /dev/serial/by-id/usb-Varnel_Probe-if00");
        w.dlg.move(250, 40);
        const QSize size = w.dlg.frameGeometry().size();
        w.dlg.done(QDialog::Rejected);
        const QString place = QStringLiteral("PosDX=%1\nPosDY=%2\n").arg(size.width()).arg(size.height());
        QCOMPARE(Saved(),
                 QString::fromStdString(ports + "[Varnel]\nPosX=250\nPosY=40\n") + place + "PortCOM=2\n");
    }

    void keysEndTheWindow_data()
    {
        QTest::addColumn<int>("focus");
        QTest::addColumn<QKeyCombination>("key");
        QTest::addColumn<int>("result");
        const int ok = QDialog::Accepted, cancel = QDialog::Rejected;
        QTest::newRow("Enter on Exit") << int(IDCANCEL_EXIT) << QKeyCombination(Qt::Key_Return) << cancel;
        QTest::newRow("Enter on the port box") << int(IDC_PORT) << QKeyCombination(Qt::Key_Return) << ok;
        QTest::newRow("Shift+Enter on the list")
            << int(IDC_LIST) << (Qt::ShiftModifier | Qt::Key_Return) << ok;
        QTest::newRow("keypad Enter on RTS") << int(IDC_RTS) << (Qt::KeypadModifier | Qt::Key_Enter) << ok;
        QTest::newRow("Escape on the list") << int(IDC_LIST) << QKeyCombination(Qt::Key_Escape) << cancel;
    }
    // Stored: a port past the list, kept if no other is chosen; a place on no screen, given up for the
    // default.
    void keysEndTheWindow()
    {
        QFETCH(int, focus);
        QFETCH(QKeyCombination, key);
        Window w(Ini("[Varnel]\nPortCOM=256\nPosX=30000\nPosY=30000\n"));
        w.dlg.open();
        w.Get(focus)->setFocus();
        QTest::keyClick(w.Get(focus), key.key(), key.keyboardModifiers());
        QTEST(w.dlg.result(), "result");
        QCOMPARE(w.exits, 1);
        w.dlg.reject(); // ending it again, as a signal may, saves nothing more
        QCOMPARE(w.exits, 1);
        QVERIFY(Saved().startsWith("[Varnel]\nPortCOM=256\nPosX=100\nPosY=100\n"));
    }

    // The window's own box, with the reason below its text.
    void openErrorBox()
    {
        Window w({}, true);
        w.port.failOpen = true;
        w.dlg.Widgets().SetMessageDetail([](const std::string& text) { return "why: " + text; });
        QCOMPARE(test::ModalBoxDuring([&w] { w.Get<QAbstractButton>(IDC_READ)->click(); }),
                 QStringLiteral("box %1 ReadoutDlgLookTest: Open port COM error\nwhy: Open port COM error")
                     .arg(QMessageBox::Critical));
    }

    // More rows than the list shows, then taken away by its keys and menu as varnel-read writes them.
    void windowBeforeAndAfterReadout()
    {
        Window w;
        w.dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.dlg));
        const QString dir = qEnvironmentVariable("VARNEL_SCREENSHOT_DIR");
        const auto shoot = [&](const char* name) {
            QVERIFY(dir.isEmpty() || w.dlg.grab().save(QDir(dir).filePath(QString::fromLatin1(name))));
        };
        shoot("varnel-start.png");
        std::string block = "\x02";
        for (int i = 0; i < 40; ++i)
            block += "1.8." + std::to_string(i) + "(0" + std::to_string(1000 + i) + ".5*kWh)\r\n";
        block += "C.1.0(Varnel electricity meter, model 4100, firmware 2.11)\r\n!\r\n\x03";
        block += char(BlockCheck(reinterpret_cast<const std::uint8_t*>(block.data()) + 1, block.size() - 1));
        w.dlg.OnRead();
        for (const std::string& bytes : {std::string("/ABC5\\2XYZ-Meter 42\r\n"), block})
            w.port.Feed(bytes), w.clock.Advance(50), w.dlg.OnTimer(TIMER_RECEIVE);
        // The last row wholly in view; rows a line of text and 4 pixels apart, as in a list control.
        auto* list = w.Get<ResultListView>(IDC_LIST);
        QTRY_COMPARE(list->model()->rowCount(), 46);
        const QModelIndex last = list->model()->index(45, 0), note = last.siblingAtRow(42);
        QTRY_VERIFY(list->viewport()->rect().contains(list->visualRect(last)));
        QCOMPARE(list->rowHeight(0), list->fontMetrics().height() + 4);
        shoot("varnel-readout.png");
        list->setFocus();
        QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier); // none selected: all
        const QString all = QGuiApplication::clipboard()->text();
        QVERIFY(all.count('\n') == 46
                && all.startsWith(
                    "/ABC5\\2XYZ-Meter 42\t\t\n -- STX -- \t\t\n1.8.0(01000.5*kWh)\t1.8.0\t01000.5\n"));
        // Tool tips only for cut-off cells, also where the window has a tip of its own.
        w.dlg.setToolTip(QStringLiteral("window"));
        QStringList tips;
        for (const QModelIndex& cell : {list->model()->index(9, 1), note, note.siblingAtColumn(2)})
            tips << test::ToolTipAt(list->viewport(), list->visualRect(cell).center());
        QCOMPARE(tips.mid(1), (QStringList{note.data().toString(),
                                           "Varnel electricity meter, model 4100, firmware 2.11"}));
        QVERIFY(!tips.contains("window") && tips[0] != "1.8.7");
        const int needs = list->sizeHintForIndex(note).width(); // cut off only where narrower than that
        list->setColumnWidth(0, needs);
        const QString fits = list->TruncatedText(note);
        list->setColumnWidth(0, needs - 1);
        QCOMPARE(fits + '|' + list->TruncatedText(note), '|' + note.data().toString());
        list->setColumnWidth(0, 5);
        QCOMPARE(list->columnWidth(0), 5); // as narrow as a user drags it
        const QImage header = list->horizontalHeader()->grab().toImage();
        list->selectRow(9);
        QCOMPARE(list->horizontalHeader()->grab().toImage(), header); // a selected row leaves the headers be
        QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), "1.8.7(01007.5*kWh)\t1.8.7\t01007.5\n");
        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(list->RowsAsText(), all);
        QStringList messages;
        w.dlg.SetMessageHandler([&](const std::string& text, MessageIcon) { messages << text.c_str(); });
        const QString csv = QString::fromStdString(w.dir.File("rows.csv"));
        for (const QString& path : {QString(), csv, csv + "/x.csv"}) {
            list->SetFileChooser([&](QWidget*) { return path; });
            list->actions().back()->trigger();
        }
        const QString saved = QString::fromStdString(test::ReadFileBytes(w.dir.File("rows.csv")));
        QVERIFY(
            saved.count('\n') == 47
            && saved.startsWith("Data,Code (OBIS),Value,Unit\r\n/ABC5\\2XYZ-Meter 42,,,\r\n -- STX -- ,,,\r\n"
                                "1.8.0(01000.5*kWh),1.8.0,01000.5,kWh\r\n"));
        QCOMPARE(messages, QStringList{"The rows could not be saved to " + csv + "/x.csv: Not a directory"});
        QElapsedTimer since;
        since.start();
        list->ScrollToRow(0);
        QCoreApplication::processEvents(); // held back for a while, not just for a pass of the event loop
        QVERIFY(!list->updatesEnabled() || since.elapsed() >= kListRefresh.count());
        w.Get<QAbstractButton>(IDC_TEST)->click();
        QCoreApplication::processEvents();
        shoot("varnel-linetest.png");
        w.Get<QAbstractButton>(IDC_READ)->click();
        QCOMPARE(list->model()->rowCount(), 0);    // the next readout starts on an empty list
        w.dlg.setWindowState(Qt::WindowMinimized); // where a desktop paints it: the icon, centred
        QImage own(w.dlg.size(), QImage::Format_RGB32);
        w.dlg.render(&own, {}, {}, QWidget::DrawWindowBackground);
        QRect drawn;
        for (int y = 0; y < own.height(); ++y)
            for (int x = 0; x < own.width(); ++x)
                drawn |= own.pixel(x, y) != own.pixel(0, 0) ? QRect(x, y, 1, 1) : QRect();
        QCOMPARE(drawn.center(), own.rect().center());
    }
};

QTEST_MAIN(ReadoutDlgLookTest)
#include "ReadoutDlgLookTest.moc"
