#include "FakeClock.h"
#include "FakePort.h"
#include "LogViewer.h"
#include "ResultList.h"
#include "ReadoutDlg.h"
#include "TempDir.h"
#include "core/ControlIds.h"
#include "widgets/CLinkLabel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QtTest>

#include <optional>

using namespace varnel;
using varnel::test::FakeClock;
using varnel::test::FakePort;
using varnel::test::ReadFileBytes;
using varnel::test::TempDir;

namespace {

// One window on a fake port, with every desktop seam recorded instead of shown.
struct Harness {
    explicit Harness(const WindowSettings& settings = {}, bool realBoxes = false)
        : port(&clock), dlg(port, clock, names, settings, dir.File("Log1107.txt"))
    {
        if (!realBoxes)
            dlg.SetMessageHandler([](const std::string&, MessageIcon) { QFAIL("unexpected message box"); });
        dlg.SetUrlOpener([this](const QUrl& url) {
            opened.push_back(url);
            return openerTakesIt;
        });
        dlg.SetDestroyHandler([this](int portIndex, const QRect& rect) {
            ++destroyCalls;
            savedPort = portIndex;
            savedRect = rect;
        });
        dlg.LinkLabel()->SetDesktop({});
    }

    template <typename T = QWidget> T* Get(int id) const { return dlg.findChild<T*>(QStringLiteral("ctl%1").arg(id)); }
    QString Text(int id) const { return Get<QLabel>(id)->text(); }
    QComboBox* Combo(int id) const { return Get<QComboBox>(id); }
    void Click(int id) const { Get<QPushButton>(id)->click(); }

    TempDir dir;
    FakeClock clock;
    FakePort port;
    PortNames names;
    std::vector<QUrl> opened;
    bool openerTakesIt = true;
    int destroyCalls = 0;
    std::optional<int> savedPort;
    QRect savedRect;
    CReadoutDlg dlg;
};

int Bottom(const QWidget* w) { return w->geometry().y() + w->geometry().height(); }

const int kLineTestRow[] = {IDC_BREAK, IDC_RTS, IDC_DTR, IDC_TXD_RED, IDC_TXD_GREEN, IDC_RXD_RED, IDC_RXD_GREEN};

} // namespace

class ReadoutDlgTest : public QObject {
    Q_OBJECT

private slots:
    // The label texts and the link are rows of controlsOfTheTemplate.
    void firstStartWithoutSettings()
    {
        Harness h;
        QCOMPARE(h.dlg.windowTitle(), QStringLiteral("Varnel"));
        const auto items = [&](int id) {
            QStringList out;
            for (int i = 0; i < h.Combo(id)->count(); ++i)
                out << h.Combo(id)->itemText(i);
            return out;
        };
        const QStringList rates{"300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600"};
        QCOMPARE(items(IDC_INITIAL_BAUD), QStringList{"Auto (300)"} + rates);
        QCOMPARE(items(IDC_TRANSMIT_BAUD), QStringList{"Auto"} + rates);
        QCOMPARE(h.Combo(IDC_INITIAL_BAUD)->currentIndex(), 0);
        QCOMPARE(h.Combo(IDC_TRANSMIT_BAUD)->currentIndex(), 0);
        QVERIFY(h.Get<QCheckBox>(IDC_RTS)->isChecked());
        QVERIFY(h.Get<QCheckBox>(IDC_DTR)->isChecked());
        QVERIFY(h.port.calls.empty());

        auto* list = h.Get<QTableView>(IDC_LIST);
        QCOMPARE(list->model()->rowCount(), 0);
        const QStringList headers{"Data", "Code (OBIS)", "Value"};
        const int widths[] = {200, 100, 100};
        QCOMPARE(list->model()->columnCount(), 3);
        for (int c = 0; c < 3; ++c) {
            QCOMPARE(list->model()->headerData(c, Qt::Horizontal).toString(), headers[c]);
            QCOMPARE(list->columnWidth(c), widths[c]);
        }
        QVERIFY(list->showGrid());
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);

        QCOMPARE(h.dlg.minimumSize(), h.dlg.maximumSize());
        QVERIFY(h.dlg.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(h.dlg.windowFlags() & Qt::WindowMaximizeButtonHint));
        const auto sizes = h.dlg.windowIcon().availableSizes();
        QVERIFY(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(32, 32)));
        QCOMPARE(h.dlg.focusWidget(), h.Get(IDCANCEL_EXIT));
    }

    void controlsOfTheTemplate_data()
    {
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("units"); // a zero width or height: sized by its content
        QTest::addColumn<bool>("tabStop");

        const auto row = [](const char* name, const char* cls, const char* text, QRect units, bool tab) {
            QTest::newRow(name) << QString::fromLatin1(cls) << QString::fromLatin1(text) << units << tab;
        };
        row("ctl2", "QPushButton", "Exit", {66, 288, 50, 36}, true);
        row("ctl1000", "QTableView", "", {6, 54, 306, 222}, true);
        row("ctl1004", "QPushButton", "Read", {12, 288, 50, 36}, true);
        row("ctl1006", "QComboBox", "", {254, 282, 56, 0}, true);
        row("ctlStaticPort", "QLabel", "Port COM no.:", {180, 285, 72, 8}, false);
        row("ctlStaticBaudRate", "QLabel", "Baud rate :", {12, 6, 45, 8}, false);
        row("ctl1014", "QLabel", "Auto (300)", {61, 6, 53, 8}, false);
        row("ctlStaticProtocol", "QLabel", "Protocol :", {12, 30, 45, 8}, false);
        row("ctl1015", "QLabel", "?", {61, 30, 53, 8}, false);
        row("ctlStaticFlag", "QLabel", "FLAG :", {12, 18, 45, 8}, false);
        row("ctl1016", "QLabel", "?", {61, 18, 53, 8}, false);
        row("ctlStaticDescription", "QLabel", "Description :", {12, 42, 45, 8}, false);
        row("ctl1017", "QLabel", "?", {61, 42, 101, 8}, false);
        row("ctlStaticLogo", "QLabel", "", {204, 6, 0, 0}, false);
        row("ctl1039", "varnel::CLinkLabel", "varnel.example.org", {204, 42, 0, 0}, false);
        row("ctl1005", "QPushButton", "Show log", {120, 288, 50, 18}, true);
        row("ctl1041", "QCheckBox", "RTS", {210, 336, 29, 10}, true);
        row("ctl1042", "QCheckBox", "DTR", {246, 336, 29, 10}, true);
        row("ctl1007", "QPushButton", "Test", {120, 312, 50, 12}, true);
        row("ctl1008", "QPushButton", "Break", {12, 336, 48, 18}, true);
        row("ctl1043", "QLabel", "", {100, 340, 0, 0}, false);
        row("ctlStaticTxd", "QLabel", "TxD:", {78, 342, 16, 8}, false);
        row("ctl1045", "QLabel", "", {152, 340, 0, 0}, false);
        row("ctlStaticRxd", "QLabel", "RxD:", {130, 342, 17, 8}, false);
        row("ctl1044", "QLabel", "", {100, 340, 0, 0}, false);
        row("ctl1046", "QLabel", "", {152, 340, 0, 0}, false);
        row("ctl1009", "QComboBox", "", {254, 296, 56, 0}, true);
        row("ctlStaticInitialBaud", "QLabel", "Initial baudrate:", {180, 299, 72, 8}, false);
        row("ctl1010", "QComboBox", "", {254, 310, 56, 0}, true);
        row("ctlStaticTransmitBaud", "QLabel", "Transmit baudrate:", {180, 313, 72, 8}, false);
    }

    void controlsOfTheTemplate()
    {
        QFETCH(QString, className);
        QFETCH(QString, text);
        QFETCH(QRect, units);
        QFETCH(bool, tabStop);
        Harness h;
        const DialogUnits& du = h.dlg.Units();
        auto* w = h.dlg.findChild<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(w);
        QVERIFY2(w->inherits(className.toLatin1()), w->metaObject()->className());
        if (auto* label = qobject_cast<QLabel*>(w); label && label->pixmap().isNull())
            QCOMPARE(label->text(), text);
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            QCOMPARE(button->text(), text);
        QCOMPARE(w->geometry().topLeft(), QPoint(du.ToPixelsX(units.x()), du.ToPixelsY(units.y())));
        if (units.width() > 0)
            QCOMPARE(w->width(), du.ToPixelsX(units.width()));
        if (units.height() > 0)
            QCOMPARE(w->height(), du.ToPixelsY(units.height()));
        QCOMPARE(bool(w->focusPolicy() & Qt::TabFocus), tabStop);
    }

    void tabOrderFollowsTheTemplate()
    {
        Harness h;
        const QList<int> expected{IDCANCEL_EXIT, IDC_LIST, IDC_READ,  IDC_PORT,         IDC_SHOW_LOG,     IDC_RTS,
                                  IDC_DTR,       IDC_TEST, IDC_BREAK, IDC_INITIAL_BAUD, IDC_TRANSMIT_BAUD};
        QList<int> order;
        QWidget* w = h.Get(IDCANCEL_EXIT);
        do {
            if ((w->focusPolicy() & Qt::TabFocus) && w->parentWidget() == &h.dlg)
                order << w->objectName().mid(3).toInt();
            w = w->nextInFocusChain();
        } while (w != h.Get(IDCANCEL_EXIT));
        QCOMPARE(order, expected);
    }

    void portComboFromStoredIndex_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("selected");
        QTest::newRow("first") << 0 << 0;
        QTest::newRow("COM256") << 255 << 255;
        QTest::newRow("one past the end") << 256 << -1;
        QTest::newRow("negative") << -1 << -1;
    }

    void portComboFromStoredIndex()
    {
        QFETCH(int, stored);
        WindowSettings settings;
        settings.portIndex = stored;
        Harness h(settings);
        QComboBox* port = h.Combo(IDC_PORT);
        QCOMPARE(port->count(), 256);
        QCOMPARE(port->itemText(0), QStringLiteral("COM1"));
        QCOMPARE(port->itemText(255), QStringLiteral("COM256"));
        QTEST(port->currentIndex(), "selected");
        QCOMPARE(h.dlg.Core().serial.m_portIndex, stored);
        // Each item names its device in its tool tip, where it has one.
        QCOMPARE(port->itemData(0, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyS0"));
        QCOMPARE(port->itemData(96, Qt::ToolTipRole).toString(), QString());
    }

    void initialBaudChoiceShowsInLabel()
    {
        Harness h;
        QComboBox* combo = h.Combo(IDC_INITIAL_BAUD);
        combo->setFocus();
        for (int i = 0; i < 6; ++i)
            QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(combo->currentText(), QStringLiteral("9600"));
        QCOMPARE(h.Text(IDC_BAUD_LABEL), QStringLiteral("9600"));
        QVERIFY(h.port.calls.empty());
        for (int i = 0; i < 6; ++i)
            QTest::keyClick(combo, Qt::Key_Up);
        QCOMPARE(h.Text(IDC_BAUD_LABEL), QStringLiteral("Auto (300)"));
    }

    void portChoiceWaitsForTheNextRead()
    {
        Harness h;
        h.Click(IDC_READ);
        QCOMPARE(h.port.device, std::string("/dev/ttyS0"));
        h.port.calls.clear();

        QComboBox* port = h.Combo(IDC_PORT);
        port->setFocus();
        QTest::keyClick(port, Qt::Key_Down);
        QTest::keyClick(port, Qt::Key_Down);
        QCOMPARE(h.dlg.Core().serial.m_portIndex, 2);
        QCOMPARE(port->toolTip(), QStringLiteral("/dev/ttyS2"));
        QVERIFY2(h.port.calls.empty(), h.port.calls.front().c_str());

        h.Click(IDC_READ);
        QCOMPARE(h.port.device, std::string("/dev/ttyS2"));
    }

    void readLeavesLineTestAndStartsReadout()
    {
        Harness h;
        h.Click(IDC_BREAK);
        QCOMPARE(h.dlg.Core().serial.m_breakOn, 1);
        QVERIFY(h.Get(IDC_TXD_GREEN)->isVisibleTo(&h.dlg));
        QVERIFY(h.dlg.Widgets().TimerRunning(TIMER_LINE_STATUS));

        h.port.calls.clear();
        h.Click(IDC_READ);
        QVERIFY(!h.dlg.Widgets().TimerRunning(TIMER_LINE_STATUS));
        QVERIFY(h.dlg.Widgets().TimerRunning(TIMER_RECEIVE));
        QCOMPARE(h.dlg.Core().serial.m_testMode, 0);
        QCOMPARE(h.dlg.Core().serial.m_breakOn, 0);
        for (int id : {IDC_TXD_RED, IDC_TXD_GREEN, IDC_RXD_RED, IDC_RXD_GREEN})
            QCOMPARE(h.Get(id)->isVisibleTo(&h.dlg), id == IDC_TXD_RED || id == IDC_RXD_RED);
        // Opened for a readout, not for line testing, and the request sent.
        const auto opens = h.port.CallsStartingWith("open ");
        QCOMPARE(opens.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(opens[0]), QStringLiteral("open /dev/ttyS0 300 7E1 rts=1 dtr=1 flow=0000000"));
        QCOMPARE(std::string(h.port.written.begin(), h.port.written.end()), std::string("/?!\r\n"));
    }

    void timerDispatchesById_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<bool>("reads");
        QTest::addColumn<bool>("asksLineStatus");
        QTest::newRow("receive") << int(TIMER_RECEIVE) << true << false;
        QTest::newRow("line status") << int(TIMER_LINE_STATUS) << false << true;
        QTest::newRow("other") << 4242 << false << false;
    }

    void timerDispatchesById()
    {
        QFETCH(int, id);
        QFETCH(bool, asksLineStatus);
        Harness h;
        h.dlg.OnRead();
        h.port.calls.clear();
        const std::size_t readsBefore = h.port.readCalls;
        h.clock.Advance(50);
        h.dlg.OnTimer(id);
        QTEST(h.port.readCalls > readsBefore, "reads");
        QCOMPARE(!h.port.CallsStartingWith("breakseen").empty(), asksLineStatus);
        QCOMPARE(h.dlg.Widgets().TimerRunning(TIMER_LINE_STATUS), asksLineStatus);
        QCOMPARE(h.dlg.Rows()->rowCount(), 0);
    }

    void showLogClosesTheLogAndOpensIt_data()
    {
        QTest::addColumn<bool>("desktopOpensIt");
        QTest::newRow("desktop viewer") << true;
        QTest::newRow("own viewer") << false;
    }

    void showLogClosesTheLogAndOpensIt()
    {
        QFETCH(bool, desktopOpensIt);
        Harness h;
        h.openerTakesIt = desktopOpensIt;
        h.dlg.OnRead();
        QVERIFY(h.dlg.Core().rows.IsLogOpen());

        h.Click(IDC_SHOW_LOG);
        QVERIFY(!h.dlg.Core().rows.IsLogOpen());
        QCOMPARE(h.opened, std::vector<QUrl>{QUrl::fromLocalFile(QString::fromStdString(h.dir.File("Log1107.txt")))});
        QCOMPARE(h.dlg.Viewer() != nullptr, !desktopOpensIt);
        if (!desktopOpensIt) {
            QVERIFY(h.dlg.Viewer()->isVisible());
            QVERIFY(h.dlg.Viewer()->isReadOnly());
            QCOMPARE(h.dlg.Viewer()->toPlainText(), QStringLiteral("==> /?!<0D><0A>\n"));
            QCOMPARE(h.dlg.Viewer()->windowTitle(), QStringLiteral("Log1107.txt"));
        }
        // The file is left as it was: closed, complete, CR LF on disk.
        QCOMPARE(ReadFileBytes(h.dir.File("Log1107.txt")), std::string("==> /?!<0D><0A>\r\n"));
    }

    void keysAndCloseBoxEndTheWindow_data()
    {
        QTest::addColumn<int>("focusId");
        QTest::addColumn<int>("key"); // 0: the close box
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("result");
        const int none = Qt::NoModifier, pad = Qt::KeypadModifier, ok = QDialog::Accepted, cancel = QDialog::Rejected;
        QTest::newRow("Enter on Exit") << int(IDCANCEL_EXIT) << int(Qt::Key_Return) << none << cancel;
        QTest::newRow("Escape") << int(IDCANCEL_EXIT) << int(Qt::Key_Escape) << none << cancel;
        QTest::newRow("Enter on the port combo") << int(IDC_PORT) << int(Qt::Key_Return) << none << ok;
        QTest::newRow("Enter on the list") << int(IDC_LIST) << int(Qt::Key_Return) << none << ok;
        QTest::newRow("keypad Enter on RTS") << int(IDC_RTS) << int(Qt::Key_Enter) << pad << ok;
        QTest::newRow("keypad Enter on the port combo") << int(IDC_PORT) << int(Qt::Key_Enter) << pad << ok;
        QTest::newRow("Escape on the list") << int(IDC_LIST) << int(Qt::Key_Escape) << none << cancel;
        QTest::newRow("close box") << int(IDCANCEL_EXIT) << 0 << none << cancel;
    }

    // The stored port is one past the list: a run without a choice must save it as it was.
    void keysAndCloseBoxEndTheWindow()
    {
        QFETCH(int, focusId);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        WindowSettings settings;
        settings.portIndex = 256;
        Harness h(settings);
        h.dlg.open();
        QVERIFY(QTest::qWaitForWindowExposed(&h.dlg));
        QWidget* target = h.Get(focusId);
        target->setFocus();
        if (key == 0)
            h.dlg.close();
        else
            QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QVERIFY(!h.dlg.isVisible());
        QVERIFY2(h.port.calls.empty(), "Enter must never start a readout off a push button");
        QTEST(h.dlg.result(), "result");
        QCOMPARE(h.destroyCalls, 1);
        QCOMPARE(h.savedPort, std::optional<int>(256));
        QCOMPARE(h.savedRect.topLeft(), QPoint(100, 100));
    }

    void lineTestRowHiddenUntilTest()
    {
        Harness h;
        const QRect list = h.Get(IDC_LIST)->geometry();
        QCOMPARE(h.dlg.LayoutHeight(), Bottom(h.Get(IDC_READ)) + 40);
        QCOMPARE(h.dlg.LayoutWidth(), list.x() + list.width() + 20);

        // Everything down to Read and Exit shows, the line-test row does not.
        const int startWidth = h.dlg.width();
        QVERIFY(h.dlg.height() > Bottom(h.Get(IDC_READ)));
        QCOMPARE(Bottom(h.Get(IDC_READ)), Bottom(h.Get(IDCANCEL_EXIT)));
        QVERIFY(h.Get(IDC_READ)->geometry().y() > Bottom(h.Get(IDC_LIST)));
        QVERIFY(startWidth >= list.x() + list.width());
        for (int id : kLineTestRow)
            QVERIFY2(h.Get(id)->geometry().y() >= h.dlg.height(), qPrintable(QString::number(id)));

        // Test brings the row into view; again, the size stays; Read keeps it.
        h.Click(IDC_TEST);
        QCOMPARE(h.dlg.height(), h.dlg.LayoutHeight() + 50);
        QCOMPARE(h.dlg.width(), startWidth);
        for (int id : kLineTestRow)
            QVERIFY2(Bottom(h.Get(id)) <= h.dlg.height(), qPrintable(QString::number(id)));
        h.Click(IDC_TEST);
        QCOMPARE(h.dlg.height(), h.dlg.LayoutHeight() + 50);
        h.Click(IDC_READ);
        QCOMPARE(h.dlg.height(), h.dlg.LayoutHeight() + 50);
        QCOMPARE(h.dlg.minimumSize(), h.dlg.maximumSize());
    }

    void messageBoxCaptionedWithProgramName()
    {
        Harness h({}, true);
        h.port.failOpen = true;
        QStringList boxes;
        QTimer closer; // notes each box as soon as it runs, then closes it
        connect(&closer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << QStringLiteral("%1|%2|%3").arg(box->windowTitle(), box->text()).arg(box->icon());
                box->accept();
            }
        });
        closer.start(10);
        h.Click(IDC_BREAK);
        const QString expected = QStringLiteral("ReadoutDlgTest|Open port COM error|%1").arg(QMessageBox::Critical);
        QCOMPARE(boxes, QStringList{expected});
    }
};

QTEST_MAIN(ReadoutDlgTest)
#include "ReadoutDlgTest.moc"
