// The window as a user sees and works it; windowBeforeAndAfterReadout also writes scripts/screenshot's PNGs.
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
            if (!ini.empty())
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
        QStringList seen; // each box's choice, item count and last item; each column's heading and width
        for (int id : {IDC_PORT, IDC_INITIAL_BAUD, IDC_TRANSMIT_BAUD}) {
            auto* c = w.Get<QComboBox>(id);
            seen << c->currentText() + ' ' + QString::number(c->count()) + ' ' + c->itemText(c->count() - 1);
        }
        auto* list = w.Get<QTableView>(IDC_LIST);
        for (int c = 0; c < 3; ++c)
            seen << list->model()->headerData(c, Qt::Horizontal).toString() + ' '
                        + QString::number(list->columnWidth(c));
        QCOMPARE(seen.join('|'),
                 "COM1 256 COM256|Auto (300) 10 57600|Auto 10 57600|Data 200|Code (OBIS) 100|Value 100");
        QVERIFY(list->showGrid() && list->selectionBehavior() == QAbstractItemView::SelectRows);
        QCOMPARE(w.dlg.windowTitle(), QStringLiteral("Varnel"));
        QVERIFY((w.dlg.windowFlags() & Qt::WindowMinimizeButtonHint)
                && !(w.dlg.windowFlags() & Qt::WindowMaximizeButtonHint)
                && w.dlg.maximumSize() == w.dlg.minimumSize());
        QCOMPARE(w.dlg.windowIcon().availableSizes(), (QList<QSize>{{32, 32}, {16, 16}}));
        QCOMPARE(w.dlg.focusWidget(), w.Get(IDCANCEL_EXIT)); // the first tab stop
        QList<QWidget*> shown = w.dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        shown.removeIf([&w](QWidget* c) { return !c->isVisibleTo(&w.dlg); });
        for (QWidget* c : shown) {
            const QString text = c->property("text").toString();
            QVERIFY(c->fontMetrics().horizontalAdvance(text) <= c->width());
            for (QWidget* other : shown)
                QVERIFY(other == c || other->geometry() == c->geometry()
                        || !other->geometry().intersects(c->geometry()));
            QVERIFY(c->y() >= w.Get(IDC_BREAK)->y() ? c->y() >= w.dlg.height()
                                                    : w.dlg.rect().contains(c->geometry()));
            if (auto* label = qobject_cast<QLabel*>(c); label && !text.isEmpty()) // captions beside values
                QCOMPARE(bool(label->alignment() & Qt::AlignRight), text.endsWith(':'));
        }
        CLinkLabel* link = w.dlg.LinkLabel();
        QCOMPARE(test::ToolTipAt(link, link->rect().center()), QStringLiteral("https://varnel.example.org/"));
        QCOMPARE(link->cursor().pixmap().toImage().pixelColor(link->cursor().hotSpot()), QColor(Qt::black));
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
        w.Get<QAbstractButton>(IDC_TEST)->click();
        w.port.breakSeen = BreakSeen::Unsupported;
        w.dlg.OnTimer(TIMER_LINE_STATUS);
        QCOMPARE(w.Get(IDC_RXD_RED)->toolTip(), QStringLiteral("This port cannot report breaks on RxD"));
        QCOMPARE(w.Get<QLabel>(IDC_TXD_GREEN)->pixmap().toImage().pixelColor(8, 8), QColor(Qt::green));
    }

    // The window starts where the file says, if partly off screen (its own size: WindowStopped's); the user
    // picks a rate and a port, moves the window and ends; the next run starts from there.
    void choicesComeBackNextRun()
    {
        const std::string ports = "[Ports]\ncom3=/dev/serial/by-id/usb-Varnel_Probe-if00\n";
        Window w(Ini(ports + "[Varnel]\nPosX=-12\nPosY=30\nPosDX=1000\nPosDY=50\n"));
        QCOMPARE(w.dlg.frameGeometry().topLeft(), QPoint(-12, 30));
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

    // Enter is OK where no push button has the focus, also from the keypad; Escape is Cancel. Stored: a port
    // past the list, kept if no other is chosen; a place on no screen, given up for the default.
    void keysEndTheWindow()
    {
        const std::tuple<int, QKeyCombination, int> rows[] = {
            {IDCANCEL_EXIT, Qt::Key_Return, QDialog::Rejected},
            {IDC_RTS, Qt::KeypadModifier | Qt::Key_Enter, QDialog::Accepted},
            {IDC_LIST, Qt::Key_Escape, QDialog::Rejected}};
        for (const auto& [focus, key, result] : rows) {
            Window w(Ini("[Varnel]\nPortCOM=256\nPosX=30000\nPosY=30000\n"));
            w.dlg.open();
            w.Get(focus)->setFocus();
            QTest::keyClick(w.Get(focus), key.key(), key.keyboardModifiers());
            QCOMPARE(w.dlg.result(), result);
            QVERIFY(Saved().startsWith("[Varnel]\nPortCOM=256\nPosX=100\nPosY=100\n"));
        }
    }

    // More rows than the list shows, then taken away by its keys and menu as varnel-read writes them; the
    // window's own boxes, a reason below the open error's text.
    void windowBeforeAndAfterReadout()
    {
        Window w({}, true);
        w.dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.dlg));
        const QString dir = qEnvironmentVariable("VARNEL_SCREENSHOT_DIR");
        const auto shoot = [&](const char* name) {
            QVERIFY(dir.isEmpty() || w.dlg.grab().save(dir + '/' + name));
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
        const QModelIndex note = list->model()->index(42, 0), code = note.sibling(41, 1);
        QTRY_VERIFY(list->viewport()->rect().contains(list->visualRect(note.siblingAtRow(45))));
        QCOMPARE(list->rowHeight(0), list->fontMetrics().height() + 4);
        const bool painting = list->updatesEnabled();
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
        for (const QModelIndex& cell : {code, note})
            tips << test::ToolTipAt(list->viewport(), list->visualRect(cell).center());
        QVERIFY(tips[0] != "window" && tips[0] != "1.8.39" && tips[1] == note.data().toString());
        const int needs = list->sizeHintForIndex(note).width(); // cut off only where narrower than that
        list->setColumnWidth(0, needs);
        const QString fits = list->TruncatedText(note);
        list->setColumnWidth(0, needs - 1);
        QCOMPARE(fits + '|' + list->TruncatedText(note), '|' + note.data().toString());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(code).center());
        QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), "1.8.39(01039.5*kWh)\t1.8.39\t01039.5\n");
        QStringList boxes;
        const QString csv = QString::fromStdString(w.dir.File("rows.csv"));
        for (const QString& path : {QString(), csv, csv + "/x.csv"}) {
            list->SetFileChooser([&](QWidget*) { return path; });
            boxes << test::ModalBoxDuring([list] { list->actions().back()->trigger(); });
        }
        const QString saved = QString::fromStdString(test::ReadFileBytes(w.dir.File("rows.csv")));
        QVERIFY(
            saved.count('\n') == 47
            && saved.startsWith("Data,Code (OBIS),Value,Unit\r\n/ABC5\\2XYZ-Meter 42,,,\r\n -- STX -- ,,,\r\n"
                                "1.8.0(01000.5*kWh),1.8.0,01000.5,kWh\r\n"));
        list->ScrollToRow(0); // repaints held back until the list's refresh
        QVERIFY(painting && !list->updatesEnabled());
        w.Get<QAbstractButton>(IDC_TEST)->click();
        QCoreApplication::processEvents();
        shoot("varnel-linetest.png");
        w.port.failOpen = true;
        w.dlg.Widgets().SetMessageDetail([](const std::string& text) { return "why: " + text; });
        boxes << test::ModalBoxDuring([&w] { w.Get<QAbstractButton>(IDC_READ)->click(); });
        QCOMPARE(list->model()->rowCount(), 0); // the next readout starts on an empty list
        const QString box = QStringLiteral("box %1 ReadoutDlgLookTest: ");
        QCOMPARE(boxes.join('|'), "||" + box.arg(QMessageBox::Warning) + "The rows could not be saved to "
                                      + csv + "/x.csv: Not a directory|" + box.arg(QMessageBox::Critical)
                                      + "Open port COM error\nwhy: Open port COM error");
    }
};

QTEST_MAIN(ReadoutDlgLookTest)
#include "ReadoutDlgLookTest.moc"
